// Natively the plug-in has no common controls, registry or string library
// of the host to check, and its failures are not raised.
#include "host/selftest_system.h"

#include <dlfcn.h>

namespace svhost::selftest {

std::optional<Check> check_system() { return std::nullopt; }
std::optional<Check> check_common_controls(const std::string&) { return std::nullopt; }
std::optional<Check> check_settings() { return std::nullopt; }
bool string_library_loaded() { return false; }
std::optional<Check> check_string_library(bool) { return std::nullopt; }

std::string module_path(void* library) {
  Dl_info info{};
  void* symbol = ::dlsym(library, "GetDLLName");
  return symbol && ::dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
}

// Shared objects carry no version resource.
std::string file_version(const std::string&) { return {}; }

bool failures_are_raised() { return false; }

}  // namespace svhost::selftest
