#include "host/plugin.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "system/dynlib.h"
#include "system/host_error.h"

namespace svhost {
namespace {

template <class Fn>
void resolve(void* library, const char* name, Fn* slot, std::vector<std::string>* missing) {
  void* address = dynlib::symbol(library, name);
  if (!address) missing->push_back(name);
  *slot = reinterpret_cast<Fn>(address);
}

bool file_exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

std::string join(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

std::unique_ptr<Plugin> Plugin::load(const std::string& path) {
  std::string error;
  void* library = dynlib::open(path, &error);
  if (!library) throw HostError("cannot load plug-in " + path + ": " + error);

  std::unique_ptr<Plugin> plugin(new Plugin());
  plugin->library_ = library;
  plugin->path_ = path;
  Exports& e = plugin->exports_;
  std::vector<std::string> missing;
#define SVHOST_RESOLVE(name, bytes) resolve(library, #name, &e.name, &missing);
  SV_EXPORTS(SVHOST_RESOLVE)
#undef SVHOST_RESOLVE
  if (!missing.empty())
    throw HostError("plug-in " + path + " lacks the export" + (missing.size() > 1 ? "s " : " ") +
                    join(missing));

  // A start-up that failed is reported before any other call.
  std::int32_t n = e.GetLastFailureDLL(nullptr, 0);
  if (n != 0) {
    std::vector<char> text(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
    e.GetLastFailureDLL(text.data(), static_cast<std::int32_t>(text.size()));
    throw HostError("plug-in " + path + " failed to start: " + failure_text_to_utf8(text.data()));
  }
  return plugin;
}

Plugin::~Plugin() {
  if (library_) dynlib::close(library_);
}

CallResult Plugin::is_user_dll32() const {
  return call([&] { exports_.IsUserDLL32(); });
}

CallResult Plugin::dll_name(std::string* name, const char** address) const {
  const char* p = nullptr;
  CallResult r = call([&] { p = exports_.GetDLLName(); });
  if (address) *address = p;
  if (name) *name = (r.ok && p) ? p : "";
  return r;
}

CallResult Plugin::can_simulate(std::int32_t* result, std::intptr_t argument) const {
  return call([&] { *result = exports_.CanSimulateDLL(argument); });
}

CallResult Plugin::parameter_struct(void* record) const {
  return call([&] { exports_.GetParameterStruct(record); });
}

CallResult Plugin::dialog_enable_struct(void* record, std::intptr_t argument) const {
  return call([&] { exports_.GetDialogEnableStruct(record, argument); });
}

CallResult Plugin::number_of_inputs_outputs(void* inputs_outputs, void* user_data) const {
  return call([&] { exports_.GetNumberOfInputsOutputs2(inputs_outputs, 0, user_data, 0); });
}

std::string find_plugin(const std::string& program, const char* env_plugin) {
  if (env_plugin && *env_plugin) return env_plugin;
  const std::string seps = dynlib::path_separators();
  const char sep = seps[0];
  const std::string file = dynlib::plugin_file_name();
  const std::size_t cut = program.find_last_of(seps);
  const std::string dir = cut == std::string::npos ? std::string(".") : program.substr(0, cut);

  std::vector<std::string> candidates = {dir + sep + file,
                                         dir + sep + ".." + sep + "plugin" + sep + file};
  for (const std::string& folder : dynlib::installed_plugin_folders()) {
    const bool absolute = seps.find(folder.front()) != std::string::npos;
    candidates.push_back((absolute ? folder : dir + sep + folder) + sep + file);
  }
  for (const std::string& path : candidates)
    if (file_exists(path)) return path;
  throw HostError("no plug-in found: looked for " + join(candidates) +
                  "; name one with --plugin or SVHOST_PLUGIN");
}

std::string default_plugin_path() {
  return find_plugin(dynlib::executable_path(), std::getenv("SVHOST_PLUGIN"));
}

}  // namespace svhost
