#include "transmit/frame.h"

#include <cstring>

#include "base/errors.h"
#include "base/x87.h"

namespace sv {

std::size_t bytes_per_input(std::int32_t data_type) {
  return is_data_type(data_type) ? kDataTypes[data_type].width : 0;
}

namespace {

// Width and conversion of one value, per data type.
template <std::int32_t Type>
struct Codec;

template <>
struct Codec<kDouble> {
  static constexpr std::size_t width = kDataTypes[kDouble].width;
  static constexpr int max_safe_exponent = 1022;  // below 2^1023 rounding cannot overflow
  static void convert(const std::uint8_t* src, std::uint8_t* dst) { x87::to_double(src, dst); }
};

template <>
struct Codec<kSingle> {
  static constexpr std::size_t width = kDataTypes[kSingle].width;
  static constexpr int max_safe_exponent = 126;
  static void convert(const std::uint8_t* src, std::uint8_t* dst) { x87::to_single(src, dst); }
};

template <>
struct Codec<kInt32> {
  static constexpr std::size_t width = kDataTypes[kInt32].width;
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
  static constexpr std::size_t width = kDataTypes[kBoolean].width;
  static constexpr int max_safe_exponent = 0x7FFF;
  static void convert(const std::uint8_t* src, std::uint8_t* dst) {
    *dst = x87::greater_than_zero(src) ? 1 : 0;
  }
};

// Whether converting this value can raise an invalid operation or an
// overflow. Safe values raise at most denormal, underflow or inexact.
template <std::int32_t Type>
[[gnu::noinline]] bool safe_special(const std::uint8_t* v, bool integer_bit) {
  if (!integer_bit || Type == kInt32) return false;  // pseudo-NaN/infinity, or no integer
  std::uint64_t fraction;
  std::memcpy(&fraction, v, 8);
  fraction &= 0x7FFFFFFFFFFFFFFFULL;
  if (fraction == 0) return true;                  // an infinity
  if (Type == kBoolean) return false;              // every NaN is an invalid comparand
  return (fraction & 0x4000000000000000ULL) != 0;  // a quiet NaN
}

template <std::int32_t Type>
inline bool safe(const std::uint8_t* v) {
  // Biased exponents from 1 up to the type's largest safe one, never the
  // specials' 0x7FFF.
  constexpr std::uint32_t kLastSafe = 16383 + Codec<Type>::max_safe_exponent < 0x7FFF
                                          ? 16383 + Codec<Type>::max_safe_exponent
                                          : 0x7FFE;
  // This runs before every conversion of every step, so the common case, a
  // normal number in range, is one compare: bytes 6 to 9 hold the integer
  // bit (bit 15), the exponent (16 to 30) and the sign (31); turned by 16
  // and masked, the integer bit leads the exponent, and the normal numbers
  // in range are one interval.
  std::uint32_t w;
  std::memcpy(&w, v + 6, 4);
  const std::uint32_t key = ((w >> 16) | (w << 16)) & 0x80007FFFu;
  if (key - 0x80000001u < kLastSafe) [[likely]]
    return true;
  const std::uint32_t exponent = key & 0x7FFFu;
  if (exponent == 0) return true;        // zero or denormal: no integer bit needed
  if (exponent != 0x7FFF) return false;  // an unnormal (no integer bit), or out of range
  return safe_special<Type>(v, (key >> 31) != 0);
}

// Converts the values under the caller's word as long as they are safe, and
// returns how many it converted.
template <std::int32_t Type>
inline std::int32_t convert_safe(std::int32_t count, const std::uint8_t* src, std::uint8_t* dst) {
  std::int32_t i = 0;
  for (; i < count; ++i, src += kExtendedSize, dst += Codec<Type>::width) {
    if (!safe<Type>(src)) break;
    Codec<Type>::convert(src, dst);
  }
  return i;
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

// The frame under the masked word, for a caller whose traps or values the
// fast path cannot take.
template <std::int32_t Type>
[[gnu::noinline]] void build_guarded(std::int32_t inputs, const std::uint8_t* values,
                                     std::uint8_t* out, unsigned caller_traps) {
  x87::guarded([=] {
    // The flags are sticky, so one look after the whole frame tells whether
    // any conversion raised a trapped condition; only then is the frame
    // converted again value by value to find the first.
    if (convert_masked<Type>(inputs, values, out, caller_traps, false)) {
      x87::clear_flags();
      convert_masked<Type>(inputs, values, out, caller_traps, true);
    }
  });
}

template <std::int32_t Type>
std::size_t build(std::int32_t inputs, const std::uint8_t* values, std::uint8_t* out,
                  std::uint16_t cw, bool nothing_pending) {
  const std::size_t size = static_cast<std::size_t>(inputs) * Codec<Type>::width;

  // Changing the control word costs more than the whole frame when the
  // caller has traps on, so it is only done when a value could trap: safe
  // values are converted under the caller's own word as it stands, unless
  // the caller traps more than these conversions can be kept from raising,
  // or has an exception pending already.
  const unsigned caller_traps = ~cw & x87::kAllExceptions;
  if ((caller_traps & ~(x87::kInvalid | x87::kZeroDivide | x87::kOverflow)) == 0 &&
      nothing_pending && convert_safe<Type>(inputs, values, out) == inputs)
    return size;
  build_guarded<Type>(inputs, values, out, caller_traps);
  return size;
}

std::size_t build_any(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                      std::uint8_t* out, std::uint16_t cw, bool nothing_pending) {
  // Not bytes_per_input(): its table would be one more line to load.
  if (data_type < kDouble || data_type > kBoolean) return 0;
  if (inputs < 0 || inputs > kMaxHostInputs) throw RangeError();
  if (inputs == 0) return 0;
  switch (data_type) {
    case kDouble: return build<kDouble>(inputs, values, out, cw, nothing_pending);
    case kSingle: return build<kSingle>(inputs, values, out, cw, nothing_pending);
    case kInt32: return build<kInt32>(inputs, values, out, cw, nothing_pending);
    default: return build<kBoolean>(inputs, values, out, cw, nothing_pending);
  }
}

}  // namespace

std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out) {
  const std::uint16_t cw = x87::control_word();
  return build_any(inputs, data_type, values, out, cw, x87::pending(cw, x87::status_word()) == 0);
}

std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out, x87::Settled settled) {
  return build_any(inputs, data_type, values, out, settled.control_word, true);
}

}  // namespace sv
