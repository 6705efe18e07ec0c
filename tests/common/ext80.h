// Test helpers: 80-bit extended values built from their bytes, so that no
// x87 arithmetic runs while a test has traps switched on.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace svtest {

struct Ext80 {
  unsigned char b[10];
};

inline Ext80 ext(std::uint64_t significand, std::uint16_t sign_exponent) {
  Ext80 e;
  std::memcpy(e.b, &significand, 8);
  std::memcpy(e.b + 8, &sign_exponent, 2);
  return e;
}

// Exact conversion of a double (any finite value, infinities, NaNs).
inline Ext80 ext(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  const std::uint16_t sign = (bits >> 63) ? 0x8000 : 0;
  const int exp = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t frac = bits & ((1ULL << 52) - 1);
  if (exp == 0x7FF) return ext((1ULL << 63) | (frac << 11), sign | 0x7FFF);
  if (exp == 0) {
    if (frac == 0) return ext(0, sign);
    int shift = 0;  // normalise a subnormal double
    while (!(frac & (1ULL << 52))) {
      frac <<= 1;
      ++shift;
    }
    return ext(frac << 11, static_cast<std::uint16_t>(sign | (exp - 1023 + 16383 + 1 - shift)));
  }
  return ext((1ULL << 63) | (frac << 11), static_cast<std::uint16_t>(sign | (exp - 1023 + 16383)));
}

inline Ext80 quiet_nan() { return ext(0xC000000000000000ULL, 0x7FFF); }
inline Ext80 signalling_nan() { return ext(0x8000000000000001ULL, 0x7FFF); }
inline Ext80 infinity(bool negative = false) {
  return ext(0x8000000000000000ULL, negative ? 0xFFFF : 0x7FFF);
}

inline std::vector<unsigned char> array(std::initializer_list<Ext80> values) {
  std::vector<unsigned char> out;
  for (const Ext80& v : values) out.insert(out.end(), v.b, v.b + 10);
  return out;
}

inline std::vector<unsigned char> bytes(std::initializer_list<int> list) {
  return std::vector<unsigned char>(list.begin(), list.end());
}

}  // namespace svtest
