// The programs' text for Windows' calls: UTF-8 inside, UTF-16 for the wide
// calls, the ANSI code page for the 8-bit ones, and the system's wording for
// its error codes.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/wide.h"

namespace svhost::win32 {

using sv::platform::utf8;
using sv::platform::wide;
std::string ansi(std::wstring_view text);

// FormatMessage's text for `code`, without the line break it ends with;
// empty when the system has none. Some texts name what they are about with
// an insert ("%1 is not a valid Win32 application."): each insert becomes
// `subject`, or is left out where there is none, so that no "%1" reaches a
// user.
std::string system_text(unsigned long code, std::string_view subject = {});
// The same with the code, e.g. "The system cannot find the file specified. (2)";
// "system error (code)" where the system has no text.
std::string system_reason(unsigned long code, std::string_view subject = {});

}  // namespace svhost::win32
