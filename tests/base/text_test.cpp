#include "base/text.h"

#include <iconv.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "platform/codepage.h"
#include "tests/common/edge_text.h"
#include "tests/common/failure.h"
#include "tests/common/texts.h"
#include "transmit/ipv4.h"

namespace {

using sv::parse_int32;

TEST(IntegerReader, AcceptsTheLibraryForms) {
  EXPECT_EQ(parse_int32(u"1600"), 1600);
  EXPECT_EQ(parse_int32(u"   -42"), -42);
  EXPECT_EQ(parse_int32(u"+7"), 7);
  EXPECT_EQ(parse_int32(u"007"), 7);
  EXPECT_EQ(parse_int32(u"2147483647"), 2147483647);
  EXPECT_EQ(parse_int32(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(parse_int32(u"$FF"), 255);
  EXPECT_EQ(parse_int32(u"x1f"), 31);
  EXPECT_EQ(parse_int32(u"0X10"), 16);
  EXPECT_EQ(parse_int32(u"-$10"), -16);
  // Hexadecimal is a 32-bit pattern.
  EXPECT_EQ(parse_int32(u"$FFFFFFFF"), -1);
  EXPECT_EQ(parse_int32(u"$80000000"), INT32_MIN);
  EXPECT_EQ(parse_int32(u"$000000001"), 1);
  // Each end of each range of digits.
  EXPECT_EQ(parse_int32(u"$09AFaf"), 0x09AFAF);
  EXPECT_EQ(parse_int32(u"0x0FFFFFFF"), 0x0FFFFFFF);
  EXPECT_EQ(parse_int32(u"09"), 9);
}

TEST(IntegerReader, RefusesEverythingElse) {
  for (const char16_t* bad :
       {u"",           u" ",     u"-",         u"+",   u"$",          u"0x",
        u"x",          u"1600 ", u"16 00",     u"1.0", u"2147483648", u"-2147483649",
        u"$100000000", u"12a",   u"\t5",       u"--1", u"0x-1",       u"99999999999999999999",
        u"/",          u"1:",    u"$/",        u"$:",  u"$@",         u"$G",
        u"$`",         u"$g",    u"x1FFFFFFFF"}) {
    EXPECT_FALSE(parse_int32(bad).has_value()) << sv::utf8(bad);
  }
}

TEST(IntegerReader, ConversionErrorQuotesTheWholeText) {
  for (const char* text : {" 12x", "", "   "})
    EXPECT_EQ(svtest::failure_of([&] { sv::str_to_int(sv::u16(text)); }),
              svtest::not_an_integer(text));
}

TEST(Decimal, WritesEveryInt32) {
  EXPECT_EQ(sv::int_to_ascii(0), "0");
  EXPECT_EQ(sv::int_to_ascii(-1600), "-1600");
  EXPECT_EQ(sv::int_to_ascii(INT32_MIN), "-2147483648");
  EXPECT_EQ(sv::int_to_ascii(INT64_MIN), "-9223372036854775808");
}

TEST(Utf16, RoundTripsThroughUtf8) {
  const std::string s = "Zulässiger Wertebereich € \xF0\x9F\x98\x80";
  EXPECT_EQ(sv::utf8(sv::u16(s)), s);
}

// A surrogate pair is one character; a surrogate without its partner is
// U+FFFD in UTF-8 and the default character in the ANSI code page.
TEST(Utf16, SurrogatesAreOneCharacterOrNone) {
  const std::u16string pair = {u'a', 0xD83D, 0xDE00, u'b'};
  const std::u16string lone = {u'a', 0xDE00, u'b', 0xD83D, u'c', 0xD83D};
  EXPECT_EQ(sv::utf8(pair),
            "a\xF0\x9F\x98\x80"
            "b");
  EXPECT_EQ(sv::utf8(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD"
            "c\xEF\xBF\xBD");
  EXPECT_EQ(sv::platform::to_ansi(pair + u"\u20AC"), "a?b\x80");
  EXPECT_EQ(sv::platform::to_ansi(lone), "a?b?c?");
  // The partner's range ends at U+DFFF: U+E000 after a high surrogate is a
  // character of its own, as is U+DBFF's partner U+DFFF one of a pair.
  EXPECT_EQ(sv::utf8(std::u16string{0xD800, 0xE000}), "\xEF\xBF\xBD\xEE\x80\x80");
  EXPECT_EQ(sv::utf8(std::u16string{0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
}

// Each length of the UTF-8 form at both ends of its range, both ways.
TEST(Utf16, EveryUtf8LengthAtItsBounds) {
  const struct {
    char32_t code_point;
    const char* utf8;
  } kCases[] = {{0x7F, "\x7F"},
                {0x80, "\xC2\x80"},
                {0x7FF, "\xDF\xBF"},
                {0x800, "\xE0\xA0\x80"},
                {0xFFFD, "\xEF\xBF\xBD"},
                {0xFFFF, "\xEF\xBF\xBF"},
                {0x10000, "\xF0\x90\x80\x80"},
                {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
  for (const auto& c : kCases) {
    std::u16string units;
    if (c.code_point < 0x10000) {
      units.push_back(static_cast<char16_t>(c.code_point));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((c.code_point - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c.code_point - 0x10000) & 0x3FF)));
    }
    EXPECT_EQ(sv::utf8(units), c.utf8)
        << std::hex << "U+" << static_cast<std::uint32_t>(c.code_point);
    EXPECT_EQ(sv::u16(c.utf8), units)
        << std::hex << "U+" << static_cast<std::uint32_t>(c.code_point);
  }
}

// Malformed UTF-8, as a texts file may hold it: a byte that starts no whole
// character of U+0000 to U+10FFFF in its shortest form is U+FFFD, and a
// character cut off by the end of the text is read no further than it.
TEST(Utf16, MalformedUtf8BecomesReplacementCharacters) {
  const std::u16string x = u"\uFFFD";
  const struct {
    const char* utf8;
    std::u16string text;
  } kCases[] = {
      {"a\x80z", u"a" + x + u"z"},  // a continuation byte alone
      {"\xC3(", x + u"("},          // a lead byte without its continuation
      {"\xE2\x82"
       "A",
       x + x + u"A"},
      {"\xF8\x88\xFF", x + x + x},          // bytes UTF-8 never has
      {"\xC0\xAF", x + x},                  // "/" in two bytes
      {"\xED\xA0\x80", x + x + x},          // a surrogate
      {"\xF4\x90\x80\x80", x + x + x + x},  // beyond U+10FFFF
      {"\xC3", x},
      {"ab\xE2\x82", u"ab" + x},
      {"\xF0\x9F\x98", x},
  };
  for (const auto& c : kCases) {
    svtest::EdgeText<char> edge(c.utf8);
    EXPECT_EQ(sv::u16(edge.view()), c.text) << sv::utf8(sv::u16(c.utf8));
  }
}

// The native ANSI code page is Windows-1252, checked byte by byte against
// the system's converter; the five bytes it leaves undefined stand for the
// control characters of the same number, as on Windows. Every byte comes
// back unchanged.
TEST(AnsiCodePage, IsWindows1252ForEveryByte) {
  iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "no WINDOWS-1252 converter";
  std::string all;
  for (int b = 1; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[4] = {};
    char* in_p = &in;
    char* out_p = out;
    std::size_t in_left = 1, out_left = sizeof out;
    const bool defined =
        iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
    const char16_t expected = defined
                                  ? static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                                          static_cast<unsigned char>(out[1]) << 8)
                                  : static_cast<char16_t>(b);
    EXPECT_EQ(sv::platform::from_ansi(std::string(1, in)), std::u16string(1, expected))
        << "byte 0x" << std::hex << b;
    all.push_back(in);
  }
  iconv_close(cd);
  EXPECT_EQ(sv::platform::to_ansi(sv::platform::from_ansi(all)), all);
}

// The readers take views that need not end in a zero: none of them may
// look past the view's last character.
TEST(IntegerReader, StaysWithinItsText) {
  for (const char16_t* text : {u"", u"  ", u"-", u"+", u"$", u"0", u"0x", u"12", u"$1F", u"x"}) {
    svtest::EdgeText16 edge(text);
    EXPECT_EQ(parse_int32(edge.view()), parse_int32(std::u16string(text))) << sv::utf8(text);
  }
  for (const char16_t* text :
       {u"", u"1.2.3", u"1.2.3.", u"1.2.3.4", u" 1 . 2 . 3 . 4 ", u"localhos"}) {
    svtest::EdgeText16 edge(text);
    sv::net::Ipv4 got{};
    EXPECT_EQ(sv::parse_dotted_ipv4(edge.view(), &got),
              sv::parse_dotted_ipv4(std::u16string(text), &got))
        << sv::utf8(text);
    EXPECT_FALSE(sv::is_localhost_word(edge.view()));
  }
}

struct DottedCase {
  const char16_t* text;
  bool is_address;
  sv::net::Ipv4 expected;
};

TEST(DottedAddress, AcceptsExactlyTheFourPieceForms) {
  const DottedCase cases[] = {
      {u"127.0.0.1", true, {{127, 0, 0, 1}}},
      {u"127.0.0.1.", true, {{127, 0, 0, 1}}},
      {u" 127 . 0 .\t0 . 1 ", true, {{127, 0, 0, 1}}},
      {u"010.0.0.1", true, {{10, 0, 0, 1}}},
      {u"0x7F.0.0.1", true, {{127, 0, 0, 1}}},
      {u"$FF.+1.-0.X0a", true, {{255, 1, 0, 10}}},
      {u"1.2.3", false, {}},
      {u"1.2.3.4.5", false, {}},
      {u"256.1.1.1", false, {}},
      {u"-1.0.0.1", false, {}},
      {u"127.0.0.1..", false, {}},
      {u"", false, {}},
      {u"....", false, {}},
      {u"localhost", false, {}},
      {u"1.2.3.4 5", false, {}},
  };
  for (const auto& c : cases) {
    sv::net::Ipv4 got{{9, 9, 9, 9}};
    EXPECT_EQ(sv::parse_dotted_ipv4(c.text, &got), c.is_address) << sv::utf8(c.text);
    if (c.is_address) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(got.b[i], c.expected.b[i]) << sv::utf8(c.text);
    }
  }
}

TEST(DottedAddress, LocalhostWordInAnyCase) {
  EXPECT_TRUE(sv::is_localhost_word(u"localhost"));
  EXPECT_TRUE(sv::is_localhost_word(u"LocalHost"));
  EXPECT_FALSE(sv::is_localhost_word(u"localhost."));
  EXPECT_FALSE(sv::is_localhost_word(u" localhost"));
  // Every ASCII letter folds onto its capital; the characters 32 away from
  // the letters' neighbours, and letters beyond ASCII, fold onto nothing.
  const std::u16string lower = u"abcdefghijklmnopqrstuvwxyz", upper = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  EXPECT_TRUE(sv::equals_ignore_ascii_case(lower, upper));
  EXPECT_TRUE(sv::equals_ignore_ascii_case(upper, lower));
  for (const char16_t* other : {u"@", u"[", u"\u00C4"})
    EXPECT_FALSE(sv::equals_ignore_ascii_case(other, std::u16string(1, other[0] + 32)))
        << sv::utf8(other);
}

}  // namespace
