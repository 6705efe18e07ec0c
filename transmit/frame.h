// The sample frame: the block's input values converted to its data type and
// packed without header or gaps, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/user_data.h"
#include "base/x87.h"

namespace sv {

// The host learns the input count as one byte, so it cannot have supplied
// more than 255 values.
inline constexpr std::int32_t kMaxHostInputs = 255;
inline constexpr std::size_t kExtendedSize = 10;
inline constexpr std::size_t kMaxFrameSize = kMaxHostInputs * kDataTypes[kDouble].width;

// Bytes per input of a data type code; 0 for a code outside 0..3.
std::size_t bytes_per_input(std::int32_t data_type);

// Converts `inputs` 80-bit values into `out` (room for kMaxFrameSize bytes)
// and returns the frame length. Conversions follow the calling thread's x87
// control word: a condition whose trap is on raises the floating-point
// failure. A negative count (or one above kMaxHostInputs) with a known type
// raises RangeError before any input is read.
std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out);
// The same for a caller that holds the word an export's entry read and has
// run no x87 instruction since: the unit is not read again.
std::size_t build_frame(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values,
                        std::uint8_t* out, x87::Settled settled);

}  // namespace sv
