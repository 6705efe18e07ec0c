// The operating system's own wording for its error codes.
#pragma once

#include <string>

namespace sv::platform {

int last_os_error();
// The system's text for an error code, without a trailing line break.
std::u16string system_error_text(int code);

}  // namespace sv::platform
