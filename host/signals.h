// The host's signal generators and the 80-bit x87 values it hands to the
// plug-in. Values are computed in double and turned into the 10-byte
// extended format by moving bits, never by x87 arithmetic: the plug-in's
// start-up leaves traps on in the loading thread's x87 unit, so a host that
// let the unit see an overflow or a NaN would fault.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace svhost {

using Ext80 = std::array<std::uint8_t, 10>;

// Exact: every double, NaN payloads and signs included, has one 80-bit form.
Ext80 ext80_from_double(double value);
// Twenty hexadecimal digits, sign and exponent first, with an optional
// "0x": "3FFF8000000000000000" is 1.0. Throws HostError.
Ext80 ext80_from_hex(std::string_view hex);
// "3FFF8000000000000000" for 1.0.
std::string ext80_to_hex(const Ext80& value);

// A finite decimal number ("1.5", "-2e3"); throws HostError naming `what`
// for anything else. Always "." as decimal point.
double parse_finite(std::string_view text, const std::string& what);

// The value of a constant: a finite number, nan, -nan, snan, -snan, inf,
// -inf, or raw 80-bit hex (0x + 20 digits). Throws HostError.
Ext80 parse_constant(std::string_view text);

enum class Waveform { Sine, Ramp, Square, Constant };

struct Generator {
  Waveform waveform = Waveform::Sine;
  double amplitude = 1.0;
  double frequency = 1.0;  // Hz of simulation time
  double offset = 0.0;
  double phase = 0.0;       // degrees
  double phase_step = 0.0;  // degrees added per input after the first covered
  Ext80 constant{};         // Waveform::Constant
};

// Which inputs a generator drives: first..last, counted from 1.
struct SignalSpec {
  int first = 1;
  int last = 0;  // 0: every input from `first` on
  Generator generator;
};

// [SEL=]KIND[:PARAMS]
//   SEL    N | N-M | *          (default *: every input)
//   KIND   sine | ramp | square | const
//   PARAMS for sine, ramp, square: key=value,... with amp, freq or period,
//          offset, phase (degrees), phase-step (degrees per input)
//          for const: one value as parse_constant takes it
// Throws HostError explaining what is wrong.
SignalSpec parse_signal(std::string_view text);

// Magnitude limit of amplitudes and offsets: keeps every computed value far
// from overflow.
inline constexpr double kMaxSignalMagnitude = 1e150;

class SignalSet {
 public:
  // Without specs every input carries a sine of amplitude 1 and 1 Hz.
  void add(const SignalSpec& spec) { specs_.push_back(spec); }
  bool empty() const { return specs_.empty(); }

  // Input i's value at simulation time t; the last spec that covers the
  // input wins, and an input no spec covers is 0.
  Ext80 value(int input, double t) const;
  // Fills `count` values of 10 bytes each into `array`.
  void fill(double t, int count, unsigned char* array) const;

 private:
  std::vector<SignalSpec> specs_;
};

}  // namespace svhost
