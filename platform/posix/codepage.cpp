// The native build's ANSI code page is Windows-1252, so model files move
// between the builds unchanged.
#include "platform/codepage.h"

#include "base/text.h"

namespace sv::platform {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks the five bytes the code page leaves
// undefined, which (as on Windows) map to the control character of the same
// number.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t byte_to_char(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

constexpr char kDefaultChar = '?';

char char_to_byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    if (kHigh[i] == 0 && c == 0x80u + i) return static_cast<char>(c);
  }
  return kDefaultChar;
}

}  // namespace

std::string to_ansi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  // A surrogate pair is one character of the text, and one default byte.
  for (std::size_t i = 0; i < text.size();) out.push_back(char_to_byte(next_code_point(text, i)));
  return out;
}

std::u16string from_ansi(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(byte_to_char(static_cast<unsigned char>(c)));
  return out;
}

std::string to_failure_text(std::u16string_view text) { return utf8(text); }

}  // namespace sv::platform
