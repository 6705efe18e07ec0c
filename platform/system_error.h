// The operating system's own wording for its error codes.
#pragma once

#include <string>

namespace sv::platform {

// The system's text for an error code, without the line break and blanks
// it may end with.
std::u16string system_error_text(int code);

}  // namespace sv::platform
