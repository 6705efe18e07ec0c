#include "system/win32/text.h"

#include "platform/codepage.h"
#include "platform/system_error.h"

namespace svhost::win32 {

std::string ansi(std::wstring_view text) {
  return sv::platform::to_ansi(sv::platform::text16(text));
}

std::string system_text(unsigned long code, std::string_view subject) {
  const std::string text = sv::utf8(sv::platform::system_error_text(static_cast<int>(code)));
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

std::string system_reason(unsigned long code, std::string_view subject) {
  std::string text = system_text(code, subject);
  if (text.empty()) text = "system error";
  return text + " (" + std::to_string(code) + ")";
}

}  // namespace svhost::win32
