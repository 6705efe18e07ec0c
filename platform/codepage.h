// 8-bit text as the host sees it: the system's ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace sv::platform {

// A character the code page lacks becomes the code page's default character.
std::string to_ansi(std::u16string_view text);
std::u16string from_ansi(std::string_view text);

// Encoding of the failure text that GetLastFailureDLL hands out
// (UTF-8 natively, the ANSI code page on win32).
std::string to_failure_text(std::u16string_view text);

}  // namespace sv::platform
