// 8-bit text in the system's real ANSI code page.
#include "platform/codepage.h"

#include <windows.h>

namespace sv::platform {

std::string to_ansi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* src = reinterpret_cast<const wchar_t*>(text.data());
  const int len = static_cast<int>(text.size());
  // No best-fit mapping: a character the code page lacks becomes its default
  // character, never a look-alike.
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, len, out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string from_ansi(std::string_view text) {
  if (text.empty()) return {};
  const int len = static_cast<int>(text.size());
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), len, nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), len, reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string to_failure_text(std::u16string_view text) { return to_ansi(text); }

}  // namespace sv::platform
