// Test helpers: 80-bit extended values built from their bytes, so that no
// x87 arithmetic runs while a test has traps switched on, and the host's
// input-value array. Doubles convert exactly as the host emulator does.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/block.h"
#include "host/signals.h"

namespace svtest {

using Ext80 = svhost::Ext80;

inline Ext80 ext(std::uint64_t significand, std::uint16_t sign_exponent) {
  Ext80 e;
  std::memcpy(e.data(), &significand, 8);
  std::memcpy(e.data() + 8, &sign_exponent, 2);
  return e;
}

inline Ext80 ext(double d) { return svhost::ext80_from_double(d); }

inline Ext80 quiet_nan() { return ext(0xC000000000000000ULL, 0x7FFF); }
inline Ext80 signalling_nan() { return ext(0x8000000000000001ULL, 0x7FFF); }
inline Ext80 infinity(bool negative = false) {
  return ext(0x8000000000000000ULL, negative ? 0xFFFF : 0x7FFF);
}

// The values one after another, ten bytes each.
inline std::vector<unsigned char> array(const std::vector<Ext80>& values) {
  std::vector<unsigned char> out;
  for (const Ext80& v : values) out.insert(out.end(), v.begin(), v.end());
  return out;
}

// The host's input-value array: every slot the host can report, the given
// values first and zeros after them.
inline std::vector<unsigned char> inputs(const std::vector<Ext80>& values) {
  std::vector<unsigned char> out = array(values);
  out.resize(svhost::kMaxInputValues * svhost::kExt80Size, 0);
  return out;
}
inline std::vector<unsigned char> inputs(std::initializer_list<double> values) {
  std::vector<Ext80> v;
  for (double d : values) v.push_back(ext(d));
  return inputs(v);
}

inline std::vector<unsigned char> bytes(std::initializer_list<int> list) {
  return std::vector<unsigned char>(list.begin(), list.end());
}

}  // namespace svtest
