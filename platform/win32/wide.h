// The text of Windows' wide calls. wchar_t is UTF-16 here, the core's own
// text, so the core's text goes in and comes back as it is; the programs'
// UTF-8 takes base/text.h's conversion on the way. The 8-bit calls take
// the ANSI code page (platform/codepage.h).
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace sv::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring wide(std::u16string_view text) { return {text.begin(), text.end()}; }
inline std::u16string_view text16(std::wstring_view text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

inline std::wstring wide(std::string_view utf8_text) { return wide(u16(utf8_text)); }
inline std::string utf8(std::wstring_view text) { return sv::utf8(text16(text)); }

}  // namespace sv::platform
