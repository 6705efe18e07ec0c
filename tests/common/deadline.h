// How long a test waits for a condition before it fails. A condition met
// ends its wait at once, so this bounds a failure only: generous for two
// cores with a CPU hog on each and the sanitizers on.
#pragma once

#include <chrono>

namespace svtest {

inline constexpr std::chrono::seconds kDeadline{120};

}  // namespace svtest
