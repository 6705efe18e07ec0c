// The export boundary: no C++ exception crosses it. A failure that ends an
// export is recorded for the calling thread and handed to the host in the
// platform's way.
#pragma once

#include <cstdint>
#include <string>

#include "base/x87.h"

namespace sv::boundary {

void clear();

// Every export starts here: no exception the host left pending on the x87
// unit is taken inside the library or left behind by it, and the thread's
// failure record is cleared.
inline void enter() {
  x87::drop_pending();
  clear();
}
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

// Runs one export body. Every C++ object of the body is gone before the
// failure is delivered, since a structured exception skips destructors.
template <class Body>
inline void run(Body&& body) {
  enter();
  bool failed = false;
  try {
    if (startup_failed()) throw_startup_failure();
    body();
  } catch (...) {
    record_current_exception();
    failed = true;
  }
  if (failed) deliver();
}

}  // namespace sv::boundary
