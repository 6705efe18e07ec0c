#include "host/win32/text.h"

#include <windows.h>

#include "tools/win32/system_text.h"

namespace svhost::win32 {
namespace {

std::wstring to_wide(UINT cp, std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string from_wide(UINT cp, std::wstring_view s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

}  // namespace

std::wstring wide(std::string_view s) { return to_wide(CP_UTF8, s); }
std::string utf8(std::wstring_view s) { return from_wide(CP_UTF8, s); }
std::string ansi(std::wstring_view s) { return from_wide(CP_ACP, s); }

std::string system_reason(unsigned long code, std::string_view subject) {
  std::string text = sv::win32_text::system_text(code, subject);
  if (text.empty()) text = "system error";
  return text + " (" + std::to_string(code) + ")";
}

}  // namespace svhost::win32
