#include "transmit/frame.h"

#include <cstring>

#include "base/x87.h"
#include "base/errors.h"

namespace sv {

std::size_t bytes_per_input(std::int32_t data_type) {
  switch (data_type) {
    case kDouble: return 8;
    case kSingle: return 4;
    case kInt32: return 4;
    case kBoolean: return 1;
    default: return 0;
  }
}

namespace {

// Width and conversion of one value, per data type.
template <std::int32_t Type>
struct Codec;

template <>
struct Codec<kDouble> {
  static constexpr std::size_t width = 8;
  static constexpr int max_safe_exponent = 1022;  // below 2^1023 rounding cannot overflow
  static void convert(const std::uint8_t* src, std::uint8_t* dst) { x87::to_double(src, dst); }
};

template <>
struct Codec<kSingle> {
  static constexpr std::size_t width = 4;
  static constexpr int max_safe_exponent = 126;
  static void convert(const std::uint8_t* src, std::uint8_t* dst) { x87::to_single(src, dst); }
};

template <>
struct Codec<kInt32> {
  static constexpr std::size_t width = 4;
  static constexpr int max_safe_exponent = 61;  // below 2^62: fits 64 bits after rounding
  // The frame takes the low 32 bits of the rounded 64-bit integer.
  static void convert(const std::uint8_t* src, std::uint8_t* dst) {
    auto v = static_cast<std::uint64_t>(x87::to_int64(src));
    dst[0] = static_cast<std::uint8_t>(v);
    dst[1] = static_cast<std::uint8_t>(v >> 8);
    dst[2] = static_cast<std::uint8_t>(v >> 16);
    dst[3] = static_cast<std::uint8_t>(v >> 24);
  }
};

template <>
struct Codec<kBoolean> {
  static constexpr std::size_t width = 1;
  static constexpr int max_safe_exponent = 0x7FFF;
  static void convert(const std::uint8_t* src, std::uint8_t* dst) {
    *dst = x87::greater_than_zero(src) ? 1 : 0;
  }
};

// Whether converting this value can raise an invalid operation or an
// overflow. Safe values raise at most denormal, underflow or inexact.
template <std::int32_t Type>
inline bool safe(const std::uint8_t* v) {
  const unsigned exponent = (v[8] | (v[9] << 8)) & 0x7FFF;
  const bool integer_bit = (v[7] & 0x80) != 0;
  if (exponent == 0x7FFF) {
    if (!integer_bit || Type == kInt32) return false;  // pseudo-NaN/infinity, or no integer
    std::uint64_t fraction;
    std::memcpy(&fraction, v, 8);
    fraction &= 0x7FFFFFFFFFFFFFFFULL;
    if (fraction == 0) return true;                  // an infinity
    if (Type == kBoolean) return false;              // every NaN is an invalid comparand
    return (fraction & 0x4000000000000000ULL) != 0;  // a quiet NaN
  }
  if (exponent != 0 && !integer_bit) return false;   // unnormal: unsupported encoding
  return static_cast<int>(exponent) - 16383 <= Codec<Type>::max_safe_exponent;
}

// Converts values [0, count) under the masked word and returns the flags
// raised among `traps`. With `first_only` it stops at the first value that
// raises one, so the failure reported is the one a trapping conversion would
// have taken.
template <std::int32_t Type>
unsigned convert_masked(std::int32_t count, const std::uint8_t* src, std::uint8_t* dst,
                        unsigned traps, bool first_only) {
  for (std::int32_t i = 0; i < count; ++i, src += kExtendedSize, dst += Codec<Type>::width) {
    Codec<Type>::convert(src, dst);
    if (first_only) {
      unsigned raised = x87::status_word() & traps;
      if (raised) return raised;
    }
  }
  return x87::status_word() & traps;
}

template <std::int32_t Type>
std::size_t build(std::int32_t inputs, const std::uint8_t* values, std::uint8_t* out) {
  const std::size_t size = static_cast<std::size_t>(inputs) * Codec<Type>::width;

  // Changing the control word costs more than the whole frame when the
  // caller has traps on, so it is only done when a value could trap: safe
  // values are converted under the caller's own word as it stands, unless
  // the caller traps more than these conversions can be kept from raising,
  // or has an exception pending already.
  const std::uint16_t cw = x87::control_word();
  const unsigned caller_traps = ~cw & x87::kAllExceptions;
  if ((caller_traps & ~(x87::kInvalid | x87::kZeroDivide | x87::kOverflow)) == 0 &&
      x87::pending(cw, x87::status_word()) == 0) {
    const std::uint8_t* src = values;
    std::uint8_t* dst = out;
    std::int32_t i = 0;
    for (; i < inputs && safe<Type>(src); ++i, src += kExtendedSize, dst += Codec<Type>::width)
      Codec<Type>::convert(src, dst);
    if (i == inputs) return size;
  }

  x87::guarded([&] {
    // The flags are sticky, so one look after the whole frame tells whether
    // any conversion raised a trapped condition; only then is the frame
    // converted again value by value to find the first.
    if (convert_masked<Type>(inputs, values, out, caller_traps, false)) {
      x87::clear_flags();
      convert_masked<Type>(inputs, values, out, caller_traps, true);
    }
  });
  return size;
}

}  // namespace

std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out) {
  if (bytes_per_input(data_type) == 0) return 0;
  if (inputs < 0 || inputs > kMaxHostInputs) throw RangeError();
  if (inputs == 0) return 0;
  switch (data_type) {
    case kDouble: return build<kDouble>(inputs, values, out);
    case kSingle: return build<kSingle>(inputs, values, out);
    case kInt32: return build<kInt32>(inputs, values, out);
    default: return build<kBoolean>(inputs, values, out);
  }
}

}  // namespace sv
