// The x87 floating-point unit of the calling thread. Both builds run on x86,
// so one inline implementation serves them.
#pragma once

#include <cstdint>

namespace sv::x87 {

// Exception bits: the same positions in the control word (mask bits) and in
// the status word (flags).
inline constexpr std::uint16_t kInvalid = 0x01;
inline constexpr std::uint16_t kDenormal = 0x02;
inline constexpr std::uint16_t kZeroDivide = 0x04;
inline constexpr std::uint16_t kOverflow = 0x08;
inline constexpr std::uint16_t kUnderflow = 0x10;
inline constexpr std::uint16_t kPrecision = 0x20;
inline constexpr std::uint16_t kAllExceptions = 0x3F;

// Nearest-even, 64-bit precision, traps on invalid, zero divide, overflow.
inline constexpr std::uint16_t kStartupControlWord = 0x1332;

inline std::uint16_t control_word() {
  std::uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

inline void set_control_word(std::uint16_t cw) { asm volatile("fldcw %0" : : "m"(cw)); }

inline std::uint16_t status_word() {
  std::uint16_t sw;
  asm volatile("fnstsw %0" : "=m"(sw));
  return sw;
}

inline void clear_exceptions() { asm volatile("fnclex"); }

using Ext80 = unsigned char[10];

// The conversions below run under whatever control word is loaded; callers
// mask every exception first and read the flags afterwards, so no hardware
// trap is ever taken inside the library.
inline void to_double(const unsigned char* src, unsigned char* dst) {
  asm volatile("fldt %1\n\tfstpl %0"
               : "=m"(*reinterpret_cast<unsigned char(*)[8]>(dst))
               : "m"(*reinterpret_cast<const unsigned char(*)[10]>(src)));
}

inline void to_single(const unsigned char* src, unsigned char* dst) {
  asm volatile("fldt %1\n\tfstps %0"
               : "=m"(*reinterpret_cast<unsigned char(*)[4]>(dst))
               : "m"(*reinterpret_cast<const unsigned char(*)[10]>(src)));
}

// Rounds by the control word's rounding mode (fistp, not C truncation).
inline std::int64_t to_int64(const unsigned char* src) {
  std::int64_t r;
  asm volatile("fldt %1\n\tfistpll %0"
               : "=m"(r)
               : "m"(*reinterpret_cast<const unsigned char(*)[10]>(src)));
  return r;
}

// Ordered comparison with zero: every NaN raises the invalid flag.
inline bool greater_than_zero(const unsigned char* src) {
  unsigned char gt;
  asm volatile(
      "fldz\n\t"
      "fldt %1\n\t"
      "fcomip %%st(1), %%st\n\t"
      "fstp %%st(0)\n\t"
      "seta %0"
      : "=q"(gt)
      : "m"(*reinterpret_cast<const unsigned char(*)[10]>(src))
      : "cc", "st", "st(1)");
  return gt != 0;
}

// Masks every exception for the lifetime of the scope and restores the
// caller's control word (with clean flags) afterwards.
class MaskedScope {
 public:
  MaskedScope() : saved_(control_word()) {
    set_control_word(static_cast<std::uint16_t>(saved_ | kAllExceptions));
    clear_exceptions();
  }
  ~MaskedScope() {
    clear_exceptions();
    set_control_word(saved_);
  }
  MaskedScope(const MaskedScope&) = delete;
  MaskedScope& operator=(const MaskedScope&) = delete;

  // Exceptions whose trap the caller had switched on.
  std::uint16_t trapped() const { return static_cast<std::uint16_t>(~saved_ & kAllExceptions); }

 private:
  std::uint16_t saved_;
};

}  // namespace sv::x87
