#include "receiving/frame_decode.h"

#include <bit>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace sv::recv {
namespace {

// Assembled byte by byte so the result does not depend on the machine's
// byte order.
template <typename U>
U load_le(const std::uint8_t* p) {
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(p[i]) << (8 * i);
  return v;
}

template <typename T>
std::string to_text(T v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) return "?";
  return std::string(buf, end);
}

std::string describe(std::size_t length) {
  return std::to_string(length) + (length == 1 ? " byte" : " bytes");
}

}  // namespace

std::size_t value_width(ValueType type) {
  switch (type) {
    case ValueType::Double: return 8;
    case ValueType::Single: return 4;
    case ValueType::Int32: return 4;
    case ValueType::Boolean: return 1;
  }
  return 1;
}

std::string_view value_type_name(ValueType type) {
  switch (type) {
    case ValueType::Double: return "double";
    case ValueType::Single: return "single";
    case ValueType::Int32: return "int32";
    case ValueType::Boolean: return "boolean";
  }
  return "?";
}

std::optional<ValueType> parse_value_type(std::string_view name) {
  for (ValueType t : {ValueType::Double, ValueType::Single, ValueType::Int32, ValueType::Boolean})
    if (name == value_type_name(t)) return t;
  return std::nullopt;
}

double to_double(const Value& value) {
  return std::visit([](auto v) { return static_cast<double>(v); }, value);
}

std::string format_value(const Value& value) {
  struct Formatter {
    std::string operator()(double v) const { return to_text(v); }
    std::string operator()(float v) const { return to_text(v); }
    std::string operator()(std::int64_t v) const { return to_text(v); }
    std::string operator()(bool v) const { return v ? "1" : "0"; }
  };
  return std::visit(Formatter{}, value);
}

DecodedFrame decode_frame(std::span<const std::uint8_t> bytes, ValueType type,
                          std::optional<std::size_t> expected_count) {
  DecodedFrame out;
  const std::size_t width = value_width(type);
  const std::size_t length = bytes.size();
  const std::string type_name(value_type_name(type));

  if (length == 0) {
    out.fault = FrameFault::Empty;
    out.reason = "empty datagram";
    return out;
  }
  if (expected_count && (*expected_count > length / width || *expected_count * width != length)) {
    out.fault = FrameFault::WrongLength;
    out.reason = describe(length) + ", expected " + std::to_string(*expected_count) + " x " +
                 type_name + " = " + std::to_string(*expected_count * width) + " bytes";
    return out;
  }
  if (length % width != 0) {
    out.fault = FrameFault::NotMultiple;
    out.reason = describe(length) + " is not a multiple of " + std::to_string(width) + " (" +
                 type_name + ")";
    return out;
  }

  const std::size_t count = length / width;
  out.values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes.data() + i * width;
    switch (type) {
      case ValueType::Double:
        out.values.emplace_back(std::bit_cast<double>(load_le<std::uint64_t>(p)));
        break;
      case ValueType::Single:
        out.values.emplace_back(std::bit_cast<float>(load_le<std::uint32_t>(p)));
        break;
      case ValueType::Int32:
        out.values.emplace_back(
            static_cast<std::int64_t>(std::bit_cast<std::int32_t>(load_le<std::uint32_t>(p))));
        break;
      case ValueType::Boolean:
        if (*p > 1) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(*p));
          out.fault = FrameFault::BadBoolean;
          out.reason = "byte " + std::string(hex) + " at offset " + std::to_string(i) +
                       " is not a boolean (0x00 or 0x01)";
          out.values.clear();
          return out;
        }
        out.values.emplace_back(*p == 1);
        break;
    }
  }
  return out;
}

}  // namespace sv::recv
