#include "receiving/frame_decode.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using sv::recv::decode_frame;
using sv::recv::FrameFault;
using sv::recv::ValueType;
using Bytes = std::vector<std::uint8_t>;

TEST(FrameDecode, ByteExactFramesOfEveryType) {
  auto i32 = decode_frame(Bytes{0x01, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0, 0, 0},
                          ValueType::Int32, 3);
  ASSERT_TRUE(i32.ok()) << i32.reason;
  ASSERT_EQ(i32.values.size(), 3u);
  EXPECT_EQ(std::get<std::int64_t>(i32.values[0]), 1);
  EXPECT_EQ(std::get<std::int64_t>(i32.values[1]), -2);
  EXPECT_EQ(std::get<std::int64_t>(i32.values[2]), 4);

  auto wrap = decode_frame(Bytes{0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}, ValueType::Int32);
  ASSERT_TRUE(wrap.ok());
  EXPECT_EQ(std::get<std::int64_t>(wrap.values[0]), -2147483648LL);
  EXPECT_EQ(std::get<std::int64_t>(wrap.values[1]), -1);

  auto b = decode_frame(Bytes{0x01, 0x00, 0x00, 0x00}, ValueType::Boolean, 4);
  ASSERT_TRUE(b.ok()) << b.reason;
  ASSERT_EQ(b.values.size(), 4u);
  EXPECT_TRUE(std::get<bool>(b.values[0]));
  for (int i = 1; i < 4; ++i) EXPECT_FALSE(std::get<bool>(b.values[i]));

  auto d = decode_frame(Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0x04, 0xC0},
                        ValueType::Double);
  ASSERT_TRUE(d.ok());
  ASSERT_EQ(d.values.size(), 2u);
  EXPECT_EQ(std::get<double>(d.values[0]), 1.0);
  EXPECT_EQ(std::get<double>(d.values[1]), -2.5);

  auto s = decode_frame(Bytes{0x00, 0x00, 0x80, 0x3F}, ValueType::Single, 1);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(std::get<float>(s.values[0]), 1.0f);
  EXPECT_EQ(sv::recv::to_double(s.values[0]), 1.0);
}

TEST(FrameDecode, FiftyDoublesKeepTheirOrder) {
  Bytes frame(400);
  for (int i = 0; i < 50; ++i) {
    const auto bits = std::bit_cast<std::uint64_t>(static_cast<double>(i) + 0.25);
    for (int k = 0; k < 8; ++k) frame[i * 8 + k] = static_cast<std::uint8_t>(bits >> (8 * k));
  }
  auto d = decode_frame(frame, ValueType::Double, 50);
  ASSERT_TRUE(d.ok()) << d.reason;
  ASSERT_EQ(d.values.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(std::get<double>(d.values[i]), i + 0.25) << i;
}

TEST(FrameDecode, NonFiniteValuesKeepTheirBits) {
  auto d = decode_frame(Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0xFF, 1, 0, 0, 0, 0, 0, 0xF8, 0x7F},
                        ValueType::Double);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(std::get<double>(d.values[0]), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(d.values[1])), 0x7FF8000000000001ULL);

  // A signalling NaN must not be quietened by the way through the decoder.
  auto s = decode_frame(Bytes{0x00, 0x00, 0xA0, 0x7F}, ValueType::Single);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(std::bit_cast<std::uint32_t>(std::get<float>(s.values[0])), 0x7FA00000u);
  EXPECT_EQ(sv::recv::format_value(s.values[0]), "nan");
  EXPECT_EQ(sv::recv::format_value(d.values[0]), "-inf");
}

TEST(FrameDecode, FormattedValuesReadBackExactly) {
  for (double v : {0.1, 1.0 / 3.0, -2.5, 5e-324, 2.2250738585072014e-308,
                   std::numeric_limits<double>::max(), 123456789.01234567}) {
    const std::string text = sv::recv::format_value(v);
    double back = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(ec, std::errc()) << text;
    EXPECT_EQ(end, text.data() + text.size()) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << text;
  }
  // Singles print at single precision: 0.1f is "0.1", not its double expansion.
  EXPECT_EQ(sv::recv::format_value(0.1f), "0.1");
  EXPECT_EQ(sv::recv::format_value(16777217.0f), "16777216");
  EXPECT_EQ(sv::recv::format_value(std::int64_t{-2147483648LL}), "-2147483648");
  EXPECT_EQ(sv::recv::format_value(true), "1");
  EXPECT_EQ(sv::recv::format_value(false), "0");
}

TEST(FrameDecode, LengthsThatDoNotFitAreFaults) {
  for (ValueType t : {ValueType::Double, ValueType::Single, ValueType::Int32, ValueType::Boolean}) {
    auto e = decode_frame({}, t);
    EXPECT_EQ(e.fault, FrameFault::Empty);
    EXPECT_FALSE(e.reason.empty());
    EXPECT_EQ(decode_frame({}, t, 1).fault, FrameFault::Empty);
  }

  auto odd = decode_frame(Bytes(7, 0), ValueType::Int32);
  EXPECT_EQ(odd.fault, FrameFault::NotMultiple);
  EXPECT_NE(odd.reason.find("7 bytes"), std::string::npos) << odd.reason;
  EXPECT_TRUE(odd.values.empty());
  EXPECT_EQ(decode_frame(Bytes(12, 0), ValueType::Double).fault, FrameFault::NotMultiple);

  auto wrong = decode_frame(Bytes(8, 0), ValueType::Int32, 3);
  EXPECT_EQ(wrong.fault, FrameFault::WrongLength);
  EXPECT_NE(wrong.reason.find("12 bytes"), std::string::npos) << wrong.reason;
  EXPECT_EQ(decode_frame(Bytes(16, 0), ValueType::Int32, 3).fault, FrameFault::WrongLength);
  // A count whose byte size overflows must not wrap round to a match.
  EXPECT_EQ(
      decode_frame(Bytes(8, 0), ValueType::Double, std::numeric_limits<std::size_t>::max() / 8 + 2)
          .fault,
      FrameFault::WrongLength);
  EXPECT_TRUE(decode_frame(Bytes(4, 0), ValueType::Boolean, 4).ok());
}

TEST(FrameDecode, BooleanBytesOtherThanZeroOrOneAreFaults) {
  auto b = decode_frame(Bytes{0x01, 0x02, 0x00}, ValueType::Boolean);
  EXPECT_EQ(b.fault, FrameFault::BadBoolean);
  EXPECT_NE(b.reason.find("offset 1"), std::string::npos) << b.reason;
  EXPECT_NE(b.reason.find("0x02"), std::string::npos) << b.reason;
  EXPECT_TRUE(b.values.empty());
  EXPECT_EQ(decode_frame(Bytes{0xFF}, ValueType::Boolean).fault, FrameFault::BadBoolean);
}

TEST(FrameDecode, TypeNames) {
  for (ValueType t : {ValueType::Double, ValueType::Single, ValueType::Int32, ValueType::Boolean})
    EXPECT_EQ(sv::recv::parse_value_type(sv::recv::value_type_name(t)), t);
  for (const char* bad : {"", "Double", "float", "int", "bool"})
    EXPECT_FALSE(sv::recv::parse_value_type(bad).has_value()) << bad;
}

}  // namespace
