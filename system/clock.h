// A monotonic clock and sleeping.
#pragma once

#include <cstdint>

namespace svhost::clock {

// Nanoseconds from an arbitrary fixed point; never goes backwards.
std::int64_t now_ns();

// Sleeps until now_ns() >= deadline_ns; returns at once when it has passed.
void sleep_until_ns(std::int64_t deadline_ns);

}  // namespace svhost::clock
