// Natively the plug-in has no common controls, registry or string library
// of the host to check, and its failures are not raised.
#include "system/selftest_system.h"

namespace svhost::selftest {

std::optional<Check> check_system() { return std::nullopt; }
std::optional<Check> check_common_controls(const std::string&) { return std::nullopt; }
std::optional<Check> check_settings() { return std::nullopt; }
bool string_library_loaded() { return false; }
std::optional<Check> check_string_library(bool) { return std::nullopt; }
// dlopen's reason says it all, and the native host is svhost itself.
std::string load_failure_meaning(const std::string&, const std::string&) { return {}; }
std::string only_64bit_programs(const std::string&) { return {}; }

// Shared objects carry no version resource.
std::string file_version(const std::string&) { return {}; }

bool failures_are_raised() { return false; }

}  // namespace svhost::selftest
