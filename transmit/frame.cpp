#include "transmit/frame.h"

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

std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out) {
  const std::size_t width = bytes_per_input(data_type);
  if (width == 0) return 0;
  if (inputs < 0 || inputs > kMaxHostInputs) throw RangeError();
  if (inputs == 0) return 0;

  unsigned trapped_flags = 0;
  {
    x87::MaskedScope fpu;
    const unsigned traps = fpu.trapped();
    const std::uint8_t* src = values;
    std::uint8_t* dst = out;
    for (std::int32_t i = 0; i < inputs; ++i, src += kExtendedSize, dst += width) {
      switch (data_type) {
        case kDouble: x87::to_double(src, dst); break;
        case kSingle: x87::to_single(src, dst); break;
        case kInt32: {
          // The frame takes the low 32 bits of the rounded 64-bit integer.
          auto v = static_cast<std::uint64_t>(x87::to_int64(src));
          dst[0] = static_cast<std::uint8_t>(v);
          dst[1] = static_cast<std::uint8_t>(v >> 8);
          dst[2] = static_cast<std::uint8_t>(v >> 16);
          dst[3] = static_cast<std::uint8_t>(v >> 24);
          break;
        }
        default: *dst = x87::greater_than_zero(src) ? 1 : 0; break;
      }
      trapped_flags = x87::status_word() & traps;
      if (trapped_flags) break;
    }
  }  // the caller's control word is back, with clean flags
  if (trapped_flags) raise_float_error(trapped_flags);
  return static_cast<std::size_t>(inputs) * width;
}

}  // namespace sv
