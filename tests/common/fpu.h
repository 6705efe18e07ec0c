// Raw access to the calling thread's x87 and SSE state, for tests that put a
// thread into the states a careless host may leave it in. Unlike the
// library's own helpers, set_x87 writes any flags, pending ones included.
#pragma once

#include <cstdint>

namespace svtest::fpu {

inline constexpr std::uint16_t kInvalid = 0x01, kDenormal = 0x02, kZeroDivide = 0x04,
                               kOverflow = 0x08, kUnderflow = 0x10, kPrecision = 0x20, kAll = 0x3F;
// Bit 6 of the control word is reserved and reads back as 1.
inline constexpr std::uint16_t kReserved = 0x40;
// Every SSE exception unmasked, nearest rounding, no flag set.
inline constexpr std::uint32_t kMxcsrAllUnmasked = 0x0000;
inline constexpr std::uint32_t kMxcsrDefault = 0x1F80;

inline std::uint16_t cw() {
  std::uint16_t v;
  asm volatile("fnstcw %0" : "=m"(v));
  return v;
}

inline std::uint16_t sw() {
  std::uint16_t v;
  asm volatile("fnstsw %0" : "=m"(v));
  return v;
}

// Flags set whose trap is on: the exceptions the next x87 instruction takes.
inline std::uint16_t pending(std::uint16_t control, std::uint16_t status) {
  return static_cast<std::uint16_t>(status & ~control & kAll);
}

inline void set_x87(std::uint16_t control, std::uint16_t flags) {
  struct {
    std::uint16_t control, unused1, status, unused2;
    std::uint32_t rest[5];
  } env;
  asm volatile("fnstenv %0\n\tfnclex" : "=m"(env) : : "memory");
  env.control = control;
  std::uint16_t status = static_cast<std::uint16_t>((env.status & 0x3F00) | (flags & kAll));
  if (pending(control, flags)) status |= 0x8080;  // error summary and busy, as the unit sets them
  env.status = status;
  asm volatile("fldenv %0" : : "m"(env) : "memory");
}

inline std::uint32_t mxcsr() {
  std::uint32_t v;
  asm volatile("stmxcsr %0" : "=m"(v));
  return v;
}

inline void set_mxcsr(std::uint32_t v) { asm volatile("ldmxcsr %0" : : "m"(v)); }

// Raises the flags the way a host's own masked arithmetic does; the control
// word must mask them.
inline void raise_by_arithmetic(std::uint16_t flags) {
  volatile long double zero = 0.0L, one = 1.0L, three = 3.0L, big = 1e4000L;
  volatile long double tiny = 1e-4940L;  // a denormal extended value
  volatile long double r;
  if (flags & kInvalid) r = zero / zero;
  if (flags & kZeroDivide) r = one / zero;
  if (flags & kOverflow) r = big * big;
  if (flags & kDenormal) r = tiny + one;
  if (flags & kPrecision) r = one / three;
  (void)r;
}

// The host's next x87 instruction after a call: traps if anything is pending.
inline void host_arithmetic() {
  volatile long double a = 2.0L, b = 8.0L;
  volatile long double r = a / b;
  (void)r;
}

}  // namespace svtest::fpu
