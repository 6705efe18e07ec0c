// The x87 floating-point unit of the calling thread, which belongs to the
// host. Both builds run on x86, so one inline implementation serves them.
//
// The hard part is the status word. The host may carry sticky exception
// flags from its own masked work; a flag becomes a pending exception the
// moment a control word that unmasks it is loaded, and the next x87
// instruction, ours or the host's, then traps. So nothing here loads a
// control word with fldcw over live flags: every change goes through
// load(), which writes the control word and the flags together and drops
// every flag the new word unmasks. Work that may raise a trapped condition
// runs under compute_masked()/guarded(): every exception masked, the flags
// read afterwards, the caller's word put back with the flags the caller
// masks, and a trapped condition raised as a C++ failure instead of a
// hardware trap (a trapped fault leaves the unit needing fninit).
#pragma once

#include <cstdint>
#include <type_traits>

#include "base/errors.h"

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

// Into a register: the form that needs no trip through memory.
inline std::uint16_t status_word() {
  std::uint16_t sw;
  asm volatile("fnstsw %0" : "=a"(sw));
  return sw;
}

// Flags set in sw whose trap cw has on: each is a pending exception.
inline constexpr std::uint16_t pending(std::uint16_t cw, std::uint16_t sw) {
  return static_cast<std::uint16_t>(sw & ~cw & kAllExceptions);
}

namespace detail {
// The 28-byte environment of fnstenv and fldenv.
struct Environment {
  std::uint16_t control, unused1, status, unused2;
  std::uint32_t rest[5];
};

// Saves the environment, then masks every exception and clears the flags
// and the error summary. Neither instruction waits, so an exception that
// is pending is not taken.
inline Environment save_and_mask() {
  Environment env;
  asm volatile("fnstenv %0\n\tfnclex" : "=m"(env) : : "memory");
  return env;
}
}  // namespace detail

// Loads cw and sets the exception flags to those of `flags` that cw masks,
// keeping the register stack and the condition codes. Never leaves an
// exception pending.
inline void load(std::uint16_t cw, std::uint16_t flags) {
  detail::Environment env = detail::save_and_mask();
  env.control = cw;
  env.status = static_cast<std::uint16_t>((env.status & 0x7F00) | (flags & cw & kAllExceptions));
  asm volatile("fldenv %0" : : "m"(env) : "memory");
}

// Clears the flags; only inside a MaskedScope, where none can be pending.
inline void clear_flags() { asm volatile("fnclex" : : : "memory"); }

// The start-up's word, keeping the loading thread's flags that it masks.
inline void load_startup_control_word() { load(kStartupControlWord, status_word()); }

// The caller's control word, read where no exception is pending under it:
// what drop_pending() leaves. It stays so until the next x87 instruction,
// so code that runs none in between may use it instead of reading the unit
// again. With it the caller's flags then, all of them masked by the word.
struct Settled {
  std::uint16_t control_word;
  std::uint16_t flags;
};

// Every export starts here: a host that calls with an exception already
// pending would otherwise take it inside the library at its first x87
// instruction. Two non-waiting reads when nothing is pending.
inline Settled drop_pending() {
  const std::uint16_t cw = control_word();
  const std::uint16_t sw = status_word();
  if (pending(cw, sw)) load(cw, sw);
  return Settled{cw, static_cast<std::uint16_t>(sw & cw & kAllExceptions)};
}

// Code that is not the library's own may load another control word, or
// clear the flags: the socket and name-service providers that the socket
// library's start and a name lookup load, the input methods a dialog loads
// (fninit leaves 0x037F and no flag). After such code, and at the exit of
// every export that runs any, this puts back the word `entry` read, with
// the flags it had then and those raised since that the word masks, and
// nothing pending. When nothing changed that is two reads and a compare.
inline void restore(Settled entry) {
  const std::uint16_t cw = control_word();
  const std::uint16_t sw = status_word();
  if (cw != entry.control_word || (sw & entry.flags) != entry.flags || pending(cw, sw))
    load(entry.control_word, static_cast<std::uint16_t>(sw | entry.flags));
}

// Masks every exception for the lifetime of the scope and starts it with
// clean flags. On leaving, the caller's control word comes back with the
// caller's flags plus those raised inside that the caller masks: as if the
// work had run under the caller's word without a trap.
class MaskedScope {
 public:
  MaskedScope() {
    const detail::Environment env = detail::save_and_mask();
    saved_cw_ = env.control;
    saved_flags_ = static_cast<std::uint16_t>(env.status & kAllExceptions);
  }
  ~MaskedScope() { load(saved_cw_, static_cast<std::uint16_t>(saved_flags_ | status_word())); }
  MaskedScope(const MaskedScope&) = delete;
  MaskedScope& operator=(const MaskedScope&) = delete;

  // Exceptions whose trap the caller has on.
  std::uint16_t traps() const { return static_cast<std::uint16_t>(~saved_cw_ & kAllExceptions); }
  // Of the flags raised inside the scope so far, those the caller traps.
  std::uint16_t trapped_raised() const {
    return static_cast<std::uint16_t>(status_word() & traps());
  }

 private:
  std::uint16_t saved_cw_;
  std::uint16_t saved_flags_;
};

namespace detail {
// The work runs in a function of its own, so the compiler can move none of
// its floating-point instructions across the masking around it.
template <class Compute>
[[gnu::noinline]] auto run_opaque(Compute& compute) {
  return compute();
}
}  // namespace detail

// Mask, compute, and report in `trapped` the conditions the caller traps.
template <class Compute>
auto compute_masked(Compute&& compute, std::uint16_t& trapped) {
  MaskedScope scope;
  if constexpr (std::is_void_v<decltype(compute())>) {
    detail::run_opaque(compute);
    trapped = scope.trapped_raised();
  } else {
    auto result = detail::run_opaque(compute);
    trapped = scope.trapped_raised();
    return result;
  }
}

// Mask, compute, and raise the first condition the caller traps as the
// matching floating-point failure.
template <class Compute>
auto guarded(Compute&& compute) {
  std::uint16_t trapped = 0;
  if constexpr (std::is_void_v<decltype(compute())>) {
    compute_masked(compute, trapped);
    if (trapped) raise_float_error(trapped);
  } else {
    auto result = compute_masked(compute, trapped);
    if (trapped) raise_float_error(trapped);
    return result;
  }
}

// Conversions of one 80-bit value. They run under whatever control word is
// loaded: callers either know the value cannot trap or mask first.
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

}  // namespace sv::x87
