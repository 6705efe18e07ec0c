// Decoding of sample frames as they arrive on the wire: N values of one type,
// no header, little-endian. Shared by the receiver and by tests that check
// what the plug-in put on the wire; it has no dependency on the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sv::recv {

// Each type's value is the block's data type code for it.
enum class ValueType : std::int32_t { Double = 0, Single = 1, Int32 = 2, Boolean = 3 };

// Bytes per value: 8, 4, 4, 1.
std::size_t value_width(ValueType type);

// "double", "single", "int32", "boolean".
std::string_view value_type_name(ValueType type);

// The inverse of value_type_name; nullopt for any other text.
std::optional<ValueType> parse_value_type(std::string_view name);

// One decoded value, bit for bit what the frame held: double for "double",
// float for "single" (kept as float so that NaN payloads and signalling NaNs
// survive), int64 for "int32" (sign-extended), bool for "boolean".
using Value = std::variant<double, float, std::int64_t, bool>;

// The value as a double: exact for every alternative but NaN payloads.
double to_double(const Value& value);

// Text that reads back to the same value: shortest round-trip form for
// double and single, decimal for int32, 0/1 for boolean; "nan", "-nan",
// "inf", "-inf" for the non-finite values.
std::string format_value(const Value& value);

enum class FrameFault {
  None,
  Empty,        // a datagram of zero bytes
  NotMultiple,  // the length is not a multiple of the type's width
  WrongLength,  // an expected count was given and the length is not count x width
  BadBoolean,   // a "boolean" byte other than 0x00 or 0x01
};

struct DecodedFrame {
  FrameFault fault = FrameFault::None;
  std::string reason;         // why the frame does not fit; empty when it does
  std::vector<Value> values;  // the values in frame order; empty on a fault
  bool ok() const noexcept { return fault == FrameFault::None; }
};

// Decodes `bytes` as values of `type`. With `expected_count` the frame must
// hold exactly that many values; without it, the count is the length divided
// by the width. Never throws for any input but allocation failure.
DecodedFrame decode_frame(std::span<const std::uint8_t> bytes, ValueType type,
                          std::optional<std::size_t> expected_count = std::nullopt);

}  // namespace sv::recv
