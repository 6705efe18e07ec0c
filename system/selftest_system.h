// What the self-test asks of the system it runs on. A check that means
// nothing on a platform is nullopt there.
#pragma once

#include <optional>
#include <string>

namespace svhost::selftest {

// One line of the self-test's report.
struct Check {
  std::string label;
  std::string seen;
  bool ok = false;
  bool skipped = false;  // not run: neither held nor failed
};

// The system: Windows' version, and whether it is 32-bit or 64-bit.
std::optional<Check> check_system();

// The common controls library that a host without a manifest gets, against
// the functions the plug-in at `plugin_path` imports from it by name.
std::optional<Check> check_common_controls(const std::string& plugin_path);

// The host-wide settings that the plug-in reads when it is loaded.
std::optional<Check> check_settings();

// Whether the host's string library is loaded in this process now.
bool string_library_loaded();
// After the plug-in's load: whether its start-up found the host's string
// library, and what that library holds. `loaded_before`: it was loaded
// before the plug-in was.
std::optional<Check> check_string_library(bool loaded_before);

// What the loader's failure to load the plug-in at `path` means for it, from
// `error`, which ends in the system's reason and code; empty where the
// reason says it all.
std::string load_failure_meaning(const std::string& path, const std::string& error);
// The programs in `folder` when every one of them is 64-bit, which a host
// there would be too; empty otherwise, and where programs carry no such mark.
std::string only_64bit_programs(const std::string& folder);

// The version a file's resource gives ("1.0.0.67"); empty where files
// carry none.
std::string file_version(const std::string& path);

// Looks `name` up for an IPv4 address as the plug-in does before every
// frame: the address as text, or empty with the reason in `error`.
std::string lookup_ipv4(const std::string& name, std::string* error);

// Whether a failing export raises a structured exception here (win32), as
// well as recording its text.
bool failures_are_raised();

}  // namespace svhost::selftest
