#include "system/clock.h"

#include <windows.h>

namespace svhost::clock {

std::int64_t now_ns() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const std::int64_t ticks = c.QuadPart;
  // Split to keep ticks * 1e9 from overflowing.
  return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

void sleep_until_ns(std::int64_t deadline_ns) {
  for (;;) {
    const std::int64_t left = deadline_ns - now_ns();
    if (left <= 0) return;
    Sleep(static_cast<DWORD>((left + 999999) / 1000000));
  }
}

}  // namespace svhost::clock
