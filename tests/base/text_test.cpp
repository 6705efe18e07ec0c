#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/text.h"
#include "platform/codepage.h"
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
}

TEST(IntegerReader, RefusesEverythingElse) {
  for (const char16_t* bad : {u"", u" ", u"-", u"+", u"$", u"0x", u"x", u"1600 ", u"16 00",
                              u"1.0", u"2147483648", u"-2147483649", u"$100000000", u"12a",
                              u"\t5", u"--1", u"0x-1", u"99999999999999999999"}) {
    EXPECT_FALSE(parse_int32(bad).has_value()) << sv::utf8(bad);
  }
}

TEST(IntegerReader, ConversionErrorQuotesTheWholeText) {
  try {
    sv::str_to_int(u" 12x");
    FAIL();
  } catch (const sv::ConvertError& e) {
    EXPECT_EQ(sv::utf8(e.message()), "'' 12x'' ist kein gültiger Integer-Wert");
  }
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
  EXPECT_EQ(sv::utf8(pair), "a\xF0\x9F\x98\x80" "b");
  EXPECT_EQ(sv::utf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD");
  EXPECT_EQ(sv::platform::to_ansi(pair + u"\u20AC"), "a?b\x80");
  EXPECT_EQ(sv::platform::to_ansi(lone), "a?b?c?");
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
}

}  // namespace
