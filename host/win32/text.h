// Paths and texts of the win32 host: UTF-8 inside the emulator, UTF-16 for
// the system's wide calls, the ANSI code page for its 8-bit ones.
#pragma once

#include <string>
#include <string_view>

namespace svhost::win32 {

std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);
std::string ansi(std::wstring_view text);
// The system's reason for an error code, e.g. "The system cannot find the file specified. (2)";
// `subject` names what a text with an insert is about ("%1 is not a valid Win32 application.").
std::string system_reason(unsigned long code, std::string_view subject = {});

}  // namespace svhost::win32
