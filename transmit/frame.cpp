#include "transmit/frame.h"

#include <cstring>

#include "platform/x87.h"
#include "support/errors.h"

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

inline void put_low32(std::uint8_t* dst, std::int64_t value) {
  auto v = static_cast<std::uint64_t>(value);
  dst[0] = static_cast<std::uint8_t>(v);
  dst[1] = static_cast<std::uint8_t>(v >> 8);
  dst[2] = static_cast<std::uint8_t>(v >> 16);
  dst[3] = static_cast<std::uint8_t>(v >> 24);
}

// Converts inputs [0, count) and returns the exception flags raised among
// `traps`. With `first_only` it stops at the first value that raises one, so
// the failure reported is the one a trapping conversion would have taken.
unsigned convert(std::int32_t count, std::int32_t data_type, const std::uint8_t* src,
                 std::uint8_t* dst, unsigned traps, bool first_only) {
  const std::size_t width = bytes_per_input(data_type);
  for (std::int32_t i = 0; i < count; ++i, src += kExtendedSize, dst += width) {
    switch (data_type) {
      case kDouble: x87::to_double(src, dst); break;
      case kSingle: x87::to_single(src, dst); break;
      case kInt32: put_low32(dst, x87::to_int64(src)); break;
      default: *dst = x87::greater_than_zero(src) ? 1 : 0; break;
    }
    if (first_only) {
      unsigned raised = x87::status_word() & traps;
      if (raised) return raised;
    }
  }
  return x87::status_word() & traps;
}

// Whether converting this value to the type can raise an invalid operation or
// an overflow. Safe values raise at most denormal, underflow or inexact.
bool safe(const std::uint8_t* v, std::int32_t data_type) {
  const unsigned se = v[8] | (v[9] << 8);
  const unsigned exponent = se & 0x7FFF;
  const bool integer_bit = (v[7] & 0x80) != 0;
  if (exponent == 0x7FFF) {
    if (!integer_bit || data_type == kInt32) return false;  // pseudo-NaN/infinity, or no integer
    std::uint64_t fraction;
    std::memcpy(&fraction, v, 8);
    fraction &= 0x7FFFFFFFFFFFFFFFULL;
    if (fraction == 0) return true;                      // an infinity
    if (data_type == kBoolean) return false;             // every NaN is an invalid comparand
    return (fraction & 0x4000000000000000ULL) != 0;      // a quiet NaN
  }
  if (exponent != 0 && !integer_bit) return false;       // unnormal: unsupported encoding
  const int unbiased = static_cast<int>(exponent) - 16383;
  switch (data_type) {
    case kDouble: return unbiased <= 1022;  // below 2^1023: rounding cannot overflow
    case kSingle: return unbiased <= 126;
    case kInt32: return unbiased <= 61;     // below 2^62: fits in 64 bits after rounding
    default: return true;
  }
}

}  // namespace

std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out) {
  const std::size_t width = bytes_per_input(data_type);
  if (width == 0) return 0;
  if (inputs < 0 || inputs > kMaxHostInputs) throw RangeError();
  if (inputs == 0) return 0;

  // Changing the control word costs more than the whole frame when the
  // caller has traps on, so it is only done when a value could trap: for
  // safe values the caller's own word is used as it stands.
  const unsigned caller_traps = ~x87::control_word() & x87::kAllExceptions;
  if ((caller_traps & ~(x87::kInvalid | x87::kZeroDivide | x87::kOverflow)) == 0) {
    bool all_safe = true;
    for (std::int32_t i = 0; all_safe && i < inputs; ++i)
      all_safe = safe(values + i * kExtendedSize, data_type);
    if (all_safe) {
      convert(inputs, data_type, values, out, 0, false);
      return static_cast<std::size_t>(inputs) * width;
    }
  }

  unsigned raised;
  {
    x87::MaskedScope fpu;
    // The flags are sticky, so one look after the whole frame tells whether
    // any conversion raised a trapped condition; only then is the frame
    // converted again value by value to find the first.
    raised = convert(inputs, data_type, values, out, fpu.trapped(), false);
    if (raised) {
      x87::clear_exceptions();
      raised = convert(inputs, data_type, values, out, fpu.trapped(), true);
    }
  }  // the caller's control word is back, with clean flags
  if (raised) raise_float_error(raised);
  return static_cast<std::size_t>(inputs) * width;
}

}  // namespace sv
