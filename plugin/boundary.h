// The export boundary: no C++ exception crosses it. A failure that ends an
// export is recorded for the calling thread and handed to the host in the
// platform's way.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "base/x87.h"

namespace sv::boundary {

namespace detail {
// The count of threads whose failure record holds a failure, plus
// kStartupFailed once a start-up has failed. While it is 0 there is nothing
// to clear, and an export's entry reads this one word instead of its
// thread's record: thread-local storage of a loaded module costs a call into
// the runtime per access (emulated TLS on win32, __tls_get_addr here). The
// count moves only in the thread whose record changes, so a thread with a
// failure recorded always reads it as non-zero.
inline constexpr std::uint32_t kStartupFailed = 0x80000000u;
inline constexpr std::uint32_t kWorkAtNextCall = 0x40000000u;
extern std::atomic<std::uint32_t> g_attention;
inline bool needs_attention() { return g_attention.load(std::memory_order_relaxed) != 0; }
}  // namespace detail

// Clears the calling thread's failure record.
void clear();

// Work put off until the next export's entry, on whichever thread: a
// moment when the host holds the library, since it calls it. One kind of
// work; registering it again before it ran runs it once.
void at_next_call(void (*work)());

// The entry's slow path: the record cleared, work put off done, a failed
// start-up raised.
void attend();

// Frees the calling thread's failure record; the platform's unload hook
// calls it.
void release_thread_record();
void record(std::u16string_view message);
// Length of the recorded text, copying at most size - 1 bytes and a zero.
std::int32_t copy_last(char* buffer, std::int32_t size);

// Records the exception in flight; called from a catch block.
void record_current_exception();

// A start-up that failed leaves the library unusable: from then on every
// export fails with the start-up's text, and GetLastFailureDLL reports it
// even before any other export has been called.
void record_startup_failure();
bool startup_failed();

// Hands the recorded failure to the host.
void deliver();
[[noreturn]] void throw_startup_failure();

// The one entry of every export but GetLastFailureDLL: no exception the
// host left pending on the x87 unit is taken inside the library or left
// behind by it, the thread's failure record is cleared, a failed start-up
// fails the call, and so does whatever the body throws. Every C++ object of
// the body is gone before the failure is delivered, since a structured
// exception skips destructors. A body that takes an x87::Settled gets the
// word the entry read. The body may run code that is not ours: the
// caller's word is put back at the exit. run_recorded only records a
// failure and tells whether there was one; run() delivers it at once.
template <class Body>
inline bool run_recorded(Body&& body) {
  const x87::Settled settled = x87::drop_pending();
  bool failed = false;
  try {
    if (detail::needs_attention()) attend();
    if constexpr (std::is_invocable_v<Body&, x87::Settled>) body(settled);
    else body();
  } catch (...) {
    record_current_exception();
    failed = true;
  }
  x87::restore(settled);
  return failed;
}

template <class Body>
inline void run(Body&& body) {
  if (run_recorded(std::forward<Body>(body))) deliver();
}

}  // namespace sv::boundary
