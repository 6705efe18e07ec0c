// The integer reader accepts exactly: blanks, an optional sign, then decimal
// digits in range, or up to 32 bits of hexadecimal after a prefix, and
// nothing after them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool is_hex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// An independent model of the accepted language, with the value it denotes.
bool model(std::u16string_view s, std::int64_t* value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
  std::u16string_view rest = s.substr(i);
  int base = 10;
  for (std::u16string_view prefix : {u"0x", u"0X", u"$", u"x", u"X"}) {
    if (rest.substr(0, prefix.size()) == prefix) {
      base = 16;
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  if (rest.empty()) return false;
  // Significant digits only: leading zeros do not count against the width.
  std::size_t lead = 0;
  while (lead + 1 < rest.size() && rest[lead] == u'0') ++lead;
  std::u16string_view digits = rest.substr(lead);
  for (char16_t c : rest)
    if (base == 10 ? !(c >= u'0' && c <= u'9') : !is_hex(c)) return false;
  if (digits.size() > (base == 10 ? 10u : 8u)) return false;
  std::string ascii(digits.begin(), digits.end());
  std::int64_t v = std::strtoll(ascii.c_str(), nullptr, base);
  if (base == 10) {
    v = neg ? -v : v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
  } else {
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(
        neg ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v)));
  }
  *value = v;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
  auto got = sv::parse_int32(text);
  std::int64_t expected = 0;
  bool accepted = model(text, &expected);
  check(got.has_value() == accepted);
  if (got) {
    check(*got == expected);
    // Its decimal form reads back to the same value.
    check(sv::parse_int32(sv::int_to_u16(*got)) == got);
  }
  return 0;
}
