#include "system/dynlib.h"

#include <windows.h>

#include "system/win32/text.h"

namespace svhost::dynlib {

void* open(const std::string& path, std::string* error) {
  // A plug-in that is missing or refuses to load is reported, not shown in a
  // system box.
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library =
      LoadLibraryExW(win32::wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  DWORD code = GetLastError();
  SetErrorMode(old);
  if (!library && error)
    *error = win32::system_reason(code, path.substr(path.find_last_of("\\/") + 1));
  return reinterpret_cast<void*>(library);
}

void* symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool is_loaded(const std::string& path) {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, win32::wide(path).c_str(),
                            &module) != 0;
}

std::string executable_path() { return library_path(nullptr); }

// The program's own file for a null library.
std::string library_path(void* library) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(library), buf.data(),
                                       static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return win32::utf8(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

const char* plugin_file_name() { return "UDPSV2Simulink.dll"; }

// On Windows a plug-in lies beside the program that loads it.
std::vector<std::string> installed_plugin_folders() { return {}; }

const char* path_separators() { return "\\/"; }

}  // namespace svhost::dynlib
