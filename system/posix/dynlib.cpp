#include "system/dynlib.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

namespace svhost::dynlib {

void* open(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the plug-in's symbols to itself, as a DLL's are.
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char* why = ::dlerror();
    *error = why ? why : "unknown error";
  }
  return library;
}

void* symbol(void* library, const char* name) { return ::dlsym(library, name); }

void close(void* library) { ::dlclose(library); }

bool is_loaded(const std::string& path) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!library) return false;
  ::dlclose(library);  // RTLD_NOLOAD still counted a reference
  return true;
}

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string library_path(void* library) {
  link_map* map = nullptr;
  return ::dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name ? map->l_name : "";
}

const char* plugin_file_name() { return "UDPSV2Simulink.so"; }

std::vector<std::string> installed_plugin_folders() {
  return {SV_PLUGIN_FROM_BIN, SV_PLUGIN_SYSTEM_DIR};
}

const char* path_separators() { return "/"; }

}  // namespace svhost::dynlib
