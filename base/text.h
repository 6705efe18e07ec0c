// Small text helpers shared by every unit: UTF-16 literals and numbers.
// Number text always uses "." and never consults the host's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sv {

// ASCII/UTF-8 to UTF-16 and back.
std::u16string u16(std::string_view utf8);
std::string utf8(std::u16string_view text);

// The character at text[i], moving i past it: a surrogate pair is one
// character, a surrogate without its partner is U+FFFD.
char32_t next_code_point(std::u16string_view text, std::size_t& i);

// Decimal, "-" when negative, no grouping.
std::u16string int_to_u16(std::int64_t value);
std::string int_to_ascii(std::int64_t value);

// The library's integer reader: leading blanks, optional sign, then decimal
// digits, or up to eight hexadecimal digits after "$", "x", "X", "0x" or
// "0X" taken as a 32-bit pattern. The digits must run to the end of the text.
std::optional<std::int32_t> parse_int32(std::u16string_view text);

// As parse_int32, but raises ConvertError naming the whole text.
std::int32_t str_to_int(std::u16string_view text);

// Replaces the first "%s" or "%d" in a pattern.
std::u16string replace_first(std::u16string pattern, std::u16string_view placeholder,
                             std::u16string_view with);

bool equals_ignore_ascii_case(std::u16string_view a, std::u16string_view b);

}  // namespace sv
