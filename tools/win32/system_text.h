// The system's wording for an error code, as the tools show it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "tools/win32/utf.h"

namespace sv::win32_text {

// FormatMessage's text for `code`, without the line break it ends with;
// empty when the system has none. Some texts name what they are about with
// an insert ("%1 is not a valid Win32 application."): each insert becomes
// `subject`, or is left out where there is none, so that no "%1" reaches a
// user.
inline std::string system_text(unsigned long code, std::string_view subject = {}) {
  wchar_t buf[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf / sizeof buf[0], nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  const std::string text = utf8(std::wstring_view(buf, n));
  const auto digit = [&](std::size_t i) {
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || !digit(i + 1) || text[i + 1] == '0') {
      out += text[i];
      continue;
    }
    std::size_t end = i + 1;
    while (digit(end)) ++end;
    // An insert may carry its format: "%1!s!".
    if (end < text.size() && text[end] == '!')
      if (const std::size_t close = text.find('!', end + 1); close != std::string::npos)
        end = close + 1;
    if (!subject.empty()) out += subject;
    else if (!out.empty() && out.back() == ' ') out.pop_back();
    i = end - 1;
  }
  return out.size() > 0 && out.front() == ' ' ? out.substr(1) : out;
}

}  // namespace sv::win32_text
