#include "transmit/frame.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/x87.h"
#include "tests/common/ext80.h"
#include "tests/common/failure.h"
#include "tests/common/fpu.h"
#include "tests/common/texts.h"

namespace {

using svtest::array;
using svtest::bytes;
using svtest::ext;
using svtest::failure_of;

std::vector<unsigned char> frame(std::int32_t type, const std::vector<unsigned char>& in,
                                 std::int32_t inputs = -1) {
  if (inputs < 0) inputs = static_cast<std::int32_t>(in.size() / 10);
  std::vector<unsigned char> out(sv::kMaxFrameSize, 0xEE);
  std::size_t n = sv::build_frame(inputs, type, in.data(), out.data());
  out.resize(n);
  return out;
}

// Runs the body under the given control word, and checks that the caller's
// word comes back with no exception pending whose trap is on (masked flags
// such as inexact may stay set, as after any conversion).
template <class Body>
void with_control_word(std::uint16_t cw, Body body) {
  const std::uint16_t saved = sv::x87::control_word();
  sv::x87::load(cw, 0);
  body();
  EXPECT_EQ(sv::x87::control_word() & ~0x40, cw & ~0x40);
  EXPECT_EQ(sv::x87::status_word() & ~cw & sv::x87::kAllExceptions, 0);
  sv::x87::load(saved, 0);
}

constexpr std::uint16_t kTrapsOn = sv::x87::kStartupControlWord;
constexpr std::uint16_t kTrapsOff = 0x137F;

TEST(Frame, ByteExactExamples) {
  with_control_word(kTrapsOn, [] {
    EXPECT_EQ(frame(sv::kInt32, array({ext(1.0), ext(-2.5), ext(3.5)})),
              bytes({1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}));
    EXPECT_EQ(frame(sv::kBoolean, array({ext(0.5), ext(0.0), ext(-0.0), ext(-1.0)})),
              bytes({1, 0, 0, 0}));
    EXPECT_EQ(frame(sv::kDouble, array({ext(1.0)})), bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(frame(sv::kSingle, array({ext(1.0)})), bytes({0, 0, 0x80, 0x3F}));
  });
}

TEST(Frame, FiftyDoublesInInputOrder) {
  std::vector<unsigned char> in;
  for (int i = 1; i <= 50; ++i) {
    auto e = ext(static_cast<double>(i));
    in.insert(in.end(), e.begin(), e.end());
  }
  auto out = frame(sv::kDouble, in);
  ASSERT_EQ(out.size(), 400u);
  double last;
  std::memcpy(&last, out.data() + 392, 8);
  EXPECT_EQ(last, 50.0);
}

TEST(Frame, SingleIsRoundedOnceFromEightyBits) {
  // 1 + 2^-24 + 2^-54 lies just above the midpoint between two singles; by
  // way of double it would first fall onto the midpoint and then to even.
  auto v = ext((1ULL << 63) | (1ULL << 39) | (1ULL << 9), 0x3FFF);
  EXPECT_EQ(frame(sv::kSingle, array({v})), bytes({1, 0, 0x80, 0x3F}));
  // Doubles, too, are rounded to nearest even straight from the 64-bit significand.
  auto tie = ext((1ULL << 63) | (1ULL << 10), 0x3FFF);  // 1 + 2^-53: a tie, to even
  auto above = ext((1ULL << 63) | (1ULL << 10) | 1, 0x3FFF);
  EXPECT_EQ(frame(sv::kDouble, array({tie})), bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(frame(sv::kDouble, array({above})), bytes({1, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

TEST(Frame, Int32RoundsTiesToEvenAndKeepsTheLow32Bits) {
  with_control_word(kTrapsOn, [] {
    EXPECT_EQ(frame(sv::kInt32, array({ext(0.5), ext(-0.5), ext(1.5), ext(2.5), ext(-2.5)})),
              bytes({0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(frame(sv::kInt32, array({ext(2147483648.0), ext(4294967295.0), ext(4294967296.0),
                                       ext(-2147483649.0)})),
              bytes({0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}));
  });
}

TEST(Frame, BooleanIsGreaterThanZero) {
  with_control_word(kTrapsOn, [] {
    EXPECT_EQ(frame(sv::kBoolean, array({svtest::infinity(), svtest::infinity(true), ext(4.9e-324),
                                         ext(-4.9e-324)})),
              bytes({1, 0, 1, 0}));
  });
}

TEST(Frame, EmptyFramesAndCounts) {
  auto one = array({ext(1.0)});
  EXPECT_TRUE(frame(4, one, 1).empty());
  EXPECT_TRUE(frame(-1, one, 1).empty());
  EXPECT_TRUE(frame(sv::kDouble, one, 0).empty());
  // An unknown type reads nothing, so even an absurd count is harmless.
  EXPECT_TRUE(frame(99, {}, INT32_MIN).empty());
}

TEST(Frame, CountsTheHostCannotHaveProvidedAreRangeErrors) {
  std::vector<unsigned char> in(256 * 10, 0);
  std::vector<unsigned char> out(sv::kMaxFrameSize);
  for (std::int32_t n : {-1, 256, INT32_MAX}) {
    EXPECT_EQ(failure_of([&] { sv::build_frame(n, sv::kInt32, in.data(), out.data()); }),
              svtest::kRangeError)
        << n;
  }
  // 51 to 255 are read as given.
  EXPECT_EQ(sv::build_frame(255, sv::kDouble, in.data(), out.data()), 2040u);
}

struct TrapCase {
  const char* name;
  std::int32_t type;
  svtest::Ext80 value;
  bool overflow;  // else invalid operation
  std::vector<unsigned char> masked_result;
};

TEST(Frame, TrapsFollowTheCallersControlWord) {
  const TrapCase cases[] = {
      {"qnan int32", sv::kInt32, svtest::quiet_nan(), false, bytes({0, 0, 0, 0})},
      {"+inf int32", sv::kInt32, svtest::infinity(), false, bytes({0, 0, 0, 0})},
      {"-inf int32", sv::kInt32, svtest::infinity(true), false, bytes({0, 0, 0, 0})},
      {"2^63 int32", sv::kInt32, ext(9223372036854775808.0), false, bytes({0, 0, 0, 0})},
      {"qnan boolean", sv::kBoolean, svtest::quiet_nan(), false, bytes({0})},
      {"snan boolean", sv::kBoolean, svtest::signalling_nan(), false, bytes({0})},
      {"1e39 single", sv::kSingle, ext(1.0e39), true, bytes({0, 0, 0x80, 0x7F})},
      {"-1e39 single", sv::kSingle, ext(-1.0e39), true, bytes({0, 0, 0x80, 0xFF})},
      {"snan single", sv::kSingle, svtest::signalling_nan(), false, bytes({0, 0, 0xC0, 0x7F})},
      {"1e4000 double", sv::kDouble, svtest::ext(0x8000000000000000ULL, 0x7FFF - 2), true,
       bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x7F})},
      {"snan double", sv::kDouble, svtest::signalling_nan(), false,
       bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x7F})},
  };
  for (const auto& c : cases) {
    // The failing value comes second: the whole step fails, whatever came before.
    auto in = array({ext(1.0), c.value});
    with_control_word(kTrapsOn, [&] {
      EXPECT_EQ(failure_of([&] { frame(c.type, in); }),
                c.overflow ? svtest::kOverflow : svtest::kInvalidOp)
          << c.name;
    });
    with_control_word(kTrapsOff, [&] {
      auto out = frame(c.type, in);
      std::vector<unsigned char> tail(out.begin() + out.size() / 2, out.end());
      EXPECT_EQ(tail, c.masked_result) << c.name;
    });
  }
}

// Values that raise different trapped conditions: the step fails with the
// first one's, as converting them one by one would.
TEST(Frame, TheFirstOfSeveralTrappedConditionsIsReported) {
  const svtest::Ext80 snan = svtest::signalling_nan(), huge = ext(1ULL << 63, 0x7FFE);
  with_control_word(kTrapsOn, [&] {
    for (std::int32_t type : {sv::kDouble, sv::kSingle}) {
      auto first_of = [&](svtest::Ext80 a, svtest::Ext80 b) {
        return failure_of([&] { frame(type, array({ext(1.0), a, b})); });
      };
      EXPECT_EQ(first_of(huge, snan), svtest::kOverflow) << type;
      EXPECT_EQ(first_of(snan, huge), svtest::kInvalidOp) << type;
    }
  });
}

// A caller that comes with an exception pending whose trap is on: the frame
// is built without the next x87 instruction taking it (a SIGFPE here).
TEST(Frame, AnExceptionAlreadyPendingIsNotTaken) {
  const std::uint16_t saved = sv::x87::control_word();
  svtest::fpu::set_x87(kTrapsOn, svtest::fpu::kInvalid);
  const auto out = frame(sv::kDouble, array({ext(1.0), ext(-2.5)}));
  svtest::fpu::set_x87(saved, 0);
  EXPECT_EQ(out, bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
}

TEST(Frame, InfinitiesAndQuietNansPassUnderTraps) {
  with_control_word(kTrapsOn, [] {
    EXPECT_EQ(frame(sv::kSingle, array({svtest::infinity(true), svtest::quiet_nan()})),
              bytes({0, 0, 0x80, 0xFF, 0, 0, 0xC0, 0x7F}));
    EXPECT_EQ(frame(sv::kDouble, array({svtest::infinity()})),
              bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x7F}));
  });
}

TEST(Frame, TrapsTheCallerSwitchedOnBeyondTheStartupSet) {
  // A caller that also traps inexact results fails on 0.1 under single.
  with_control_word(static_cast<std::uint16_t>(kTrapsOn & ~sv::x87::kPrecision), [] {
    EXPECT_THROW(frame(sv::kSingle, array({ext(0.1)})), sv::FloatError);
    EXPECT_NO_THROW(frame(sv::kSingle, array({ext(0.5)})));
  });
}

// Every encoding class at the edges of each type's fast-path test, in a
// frame of normal values, under the start-up's word and one that also
// rounds up: the frame either matches a conversion made with every
// exception masked, byte for byte and with the same flags, or fails exactly
// when that conversion raised a trapped condition. A value the fast path
// misjudged as safe would end the test with SIGFPE instead.
TEST(Frame, EveryEncodingClassAgreesWithTheMaskedConversion) {
  std::vector<svtest::Ext80> values;
  const std::uint64_t kFractions[] = {0,
                                      1,
                                      0x4000000000000000ULL,
                                      0x3FFFFFFFFFFFFFFFULL,
                                      0x7FFFFFFFFFFFFFFFULL,
                                      0x0000000000000800ULL};
  // Exponents at the type limits (2^31, 2^62, 2^127, 2^1023) and their
  // neighbours, zero and the denormals, 1.0 and the specials.
  const std::uint16_t kExponents[] = {
      0,           1,           0x3FFF,       16383 + 30,   16383 + 31, 16383 + 61, 16383 + 62,
      16383 + 126, 16383 + 127, 16383 + 1022, 16383 + 1023, 0x7FFE,     0x7FFF};
  for (std::uint16_t e : kExponents)
    for (bool integer_bit : {true, false})
      for (std::uint64_t f : kFractions)
        for (std::uint16_t sign : {0, 0x8000})
          values.push_back(
              ext((integer_bit ? 1ULL << 63 : 0) | f, static_cast<std::uint16_t>(sign | e)));

  for (std::uint16_t cw : {kTrapsOn, static_cast<std::uint16_t>(kTrapsOn | 0x0800)}) {
    for (std::int32_t type : {sv::kDouble, sv::kSingle, sv::kInt32, sv::kBoolean}) {
      const std::size_t width = sv::bytes_per_input(type);
      for (const svtest::Ext80& v : values) {
        // Second of three, so the values around it are converted as usual.
        const auto in = array({ext(1.5), v, ext(-3.25)});
        std::vector<unsigned char> expected(3 * width);
        std::uint16_t expected_flags = 0;
        with_control_word(cw, [&] {
          sv::x87::MaskedScope masked;
          for (int i = 0; i < 3; ++i) {
            const unsigned char* src = in.data() + 10 * i;
            unsigned char* dst = expected.data() + width * i;
            switch (type) {
              case sv::kDouble: sv::x87::to_double(src, dst); break;
              case sv::kSingle: sv::x87::to_single(src, dst); break;
              case sv::kInt32: {
                const std::int64_t r = sv::x87::to_int64(src);
                std::memcpy(dst, &r, 4);
                break;
              }
              default: *dst = sv::x87::greater_than_zero(src) ? 1 : 0;
            }
          }
          expected_flags = sv::x87::status_word() & sv::x87::kAllExceptions;
        });
        const bool traps = (expected_flags & ~cw & sv::x87::kAllExceptions) != 0;

        char what[64];
        std::uint64_t significand;
        std::uint16_t sign_exponent;
        std::memcpy(&significand, v.data(), 8);
        std::memcpy(&sign_exponent, v.data() + 8, 2);
        std::snprintf(what, sizeof what, "type %d cw %04x value %04x:%016llx", type, cw,
                      sign_exponent, static_cast<unsigned long long>(significand));
        with_control_word(cw, [&] {
          bool failed = false;
          std::vector<unsigned char> out;
          try {
            out = frame(type, in);
          } catch (const sv::FloatError&) {
            failed = true;
          }
          EXPECT_EQ(failed, traps) << what;
          if (!failed) {
            EXPECT_EQ(out, expected) << what;
            EXPECT_EQ(sv::x87::status_word() & sv::x87::kAllExceptions, expected_flags) << what;
          }
        });
      }
    }
  }
}

}  // namespace
