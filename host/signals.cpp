#include "host/signals.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "system/host_error.h"

namespace svhost {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint64_t bits_of(double value) {
  std::uint64_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

Ext80 pack(bool negative, std::uint16_t exponent, std::uint64_t significand) {
  Ext80 out{};
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(significand >> (8 * i));
  std::uint16_t top = static_cast<std::uint16_t>(exponent | (negative ? 0x8000 : 0));
  out[8] = static_cast<std::uint8_t>(top);
  out[9] = static_cast<std::uint8_t>(top >> 8);
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool parse_int(std::string_view text, int* out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// frac(x) for finite x, in [0, 1).
double frac(double x) {
  double f = x - std::floor(x);
  return f >= 1.0 ? 0.0 : f;
}

}  // namespace

Ext80 ext80_from_double(double value) {
  const std::uint64_t b = bits_of(value);
  const bool negative = (b >> 63) != 0;
  const int exponent = static_cast<int>((b >> 52) & 0x7FF);
  const std::uint64_t mantissa = b & ((std::uint64_t{1} << 52) - 1);
  if (exponent == 0x7FF)  // infinity or NaN: payload and quiet bit move up
    return pack(negative, 0x7FFF, (std::uint64_t{1} << 63) | (mantissa << 11));
  if (exponent == 0) {
    if (mantissa == 0) return pack(negative, 0, 0);
    // Subnormal double: normal in 80 bits.
    int top = 63;
    while (!((mantissa >> top) & 1)) --top;
    return pack(negative, static_cast<std::uint16_t>(top - 1074 + 16383), mantissa << (63 - top));
  }
  return pack(negative, static_cast<std::uint16_t>(exponent - 1023 + 16383),
              (std::uint64_t{1} << 63) | (mantissa << 11));
}

Ext80 ext80_from_hex(std::string_view hex) {
  if (hex.size() >= 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex.remove_prefix(2);
  if (hex.size() != 20)
    throw HostError("raw 80-bit value needs 20 hex digits: " + std::string(hex));
  Ext80 out{};
  for (int i = 0; i < 10; ++i) {
    int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0)
      throw HostError("not a hex digit in raw 80-bit value: " + std::string(hex));
    out[9 - i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return out;
}

std::string ext80_to_hex(const Ext80& value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 9; i >= 0; --i) {
    out += digits[value[i] >> 4];
    out += digits[value[i] & 15];
  }
  return out;
}

double parse_finite(std::string_view text, const std::string& what) {
  double value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  auto r = std::from_chars(begin, end, value, std::chars_format::general);
  // from_chars also takes "inf" and "nan"; the exponent bits tell them apart
  // without a floating-point comparison.
  if (text.empty() || r.ec != std::errc() || r.ptr != end ||
      ((bits_of(value) >> 52) & 0x7FF) == 0x7FF)
    throw HostError(what + ": not a finite number: " + std::string(text));
  return value;
}

Ext80 parse_constant(std::string_view text) {
  const std::string t = lower(text);
  constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
  constexpr std::uint64_t kQuiet = std::uint64_t{1} << 62;
  if (t == "nan" || t == "+nan" || t == "qnan") return pack(false, 0x7FFF, kTop | kQuiet);
  if (t == "-nan" || t == "-qnan") return pack(true, 0x7FFF, kTop | kQuiet);
  if (t == "snan" || t == "+snan") return pack(false, 0x7FFF, kTop | 1);
  if (t == "-snan") return pack(true, 0x7FFF, kTop | 1);
  if (t == "inf" || t == "+inf") return pack(false, 0x7FFF, kTop);
  if (t == "-inf") return pack(true, 0x7FFF, kTop);
  if (t.size() == 22 && t[0] == '0' && t[1] == 'x') return ext80_from_hex(t);
  return ext80_from_double(parse_finite(text, "constant"));
}

SignalSpec parse_signal(std::string_view text) {
  SignalSpec spec;
  const std::string whole(text);
  std::string_view head = text, params;
  if (auto colon = text.find(':'); colon != std::string_view::npos) {
    head = text.substr(0, colon);
    params = text.substr(colon + 1);
  }
  std::string_view kind = head;
  if (auto eq = head.find('='); eq != std::string_view::npos) {
    std::string_view sel = head.substr(0, eq);
    kind = head.substr(eq + 1);
    if (sel != "*") {
      auto dash = sel.find('-');
      std::string_view a = sel.substr(0, dash);
      std::string_view b = dash == std::string_view::npos ? a : sel.substr(dash + 1);
      if (!parse_int(a, &spec.first) || !parse_int(b, &spec.last) || spec.first < 1 ||
          spec.last < spec.first)
        throw HostError("signal '" + whole + "': inputs must be N, N-M or * (N >= 1)");
    }
  }
  Generator& g = spec.generator;
  const std::string k = lower(kind);
  if (k == "sine" || k == "sin") {
    g.waveform = Waveform::Sine;
  } else if (k == "ramp" || k == "saw") {
    g.waveform = Waveform::Ramp;
  } else if (k == "square") {
    g.waveform = Waveform::Square;
  } else if (k == "const" || k == "constant") {
    g.waveform = Waveform::Constant;
    if (params.empty())
      throw HostError("signal '" + whole + "': const needs a value, e.g. const:1.5");
    try {
      g.constant = parse_constant(params);
    } catch (const HostError& e) {
      throw HostError("signal '" + whole + "': " + e.what());
    }
    return spec;
  } else {
    throw HostError("signal '" + whole + "': unknown kind '" + std::string(kind) +
                    "' (sine, ramp, square, const)");
  }
  while (!params.empty()) {
    auto comma = params.find(',');
    std::string_view item = params.substr(0, comma);
    params = comma == std::string_view::npos ? std::string_view() : params.substr(comma + 1);
    auto eq = item.find('=');
    if (eq == std::string_view::npos)
      throw HostError("signal '" + whole + "': expected key=value, got '" + std::string(item) +
                      "'");
    const std::string key = lower(item.substr(0, eq));
    const double v = parse_finite(item.substr(eq + 1), "signal '" + whole + "' " + key);
    if (key == "amp" || key == "amplitude") {
      g.amplitude = v;
    } else if (key == "freq" || key == "frequency") {
      g.frequency = v;
    } else if (key == "period") {
      if (!(v > 0)) throw HostError("signal '" + whole + "': period must be above 0");
      g.frequency = 1.0 / v;
    } else if (key == "offset") {
      g.offset = v;
    } else if (key == "phase") {
      g.phase = v;
    } else if (key == "phase-step") {
      g.phase_step = v;
    } else {
      throw HostError("signal '" + whole + "': unknown key '" + key +
                      "' (amp, freq, period, offset, phase, phase-step)");
    }
  }
  if (std::fabs(g.amplitude) > kMaxSignalMagnitude || std::fabs(g.offset) > kMaxSignalMagnitude ||
      std::fabs(g.frequency) > 1e9 || std::fabs(g.phase) > 1e9 || std::fabs(g.phase_step) > 1e9)
    throw HostError("signal '" + whole + "': a value is too large");
  return spec;
}

Ext80 SignalSet::value(int input, double t) const {
  const SignalSpec* chosen = nullptr;
  static const SignalSpec kDefault{};
  if (specs_.empty()) chosen = &kDefault;
  for (const auto& s : specs_)
    if (input >= s.first && (s.last == 0 || input <= s.last)) chosen = &s;
  if (!chosen) return ext80_from_double(0.0);
  const Generator& g = chosen->generator;
  if (g.waveform == Waveform::Constant) return g.constant;
  const double turns = g.frequency * t + (g.phase + g.phase_step * (input - chosen->first)) / 360.0;
  double v = 0;
  switch (g.waveform) {
    case Waveform::Sine: v = g.offset + g.amplitude * std::sin(2 * kPi * frac(turns)); break;
    case Waveform::Ramp: v = g.offset + g.amplitude * frac(turns); break;
    case Waveform::Square: v = g.offset + (frac(turns) < 0.5 ? g.amplitude : -g.amplitude); break;
    case Waveform::Constant: break;
  }
  return ext80_from_double(v);
}

void SignalSet::fill(double t, int count, unsigned char* array) const {
  for (int i = 0; i < count; ++i) {
    Ext80 v = value(i + 1, t);
    std::memcpy(array + 10 * i, v.data(), v.size());
  }
}

}  // namespace svhost
