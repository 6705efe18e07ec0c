// The "FileVersion" text of this module's own version information.
#pragma once

#include <optional>
#include <string>

namespace sv::platform {

// Empty when the module path or its version information cannot be read.
std::optional<std::u16string> module_file_version();

}  // namespace sv::platform
