#include "plugin/failure.h"

namespace sv::platform {

// Natively the host asks GetLastFailureDLL after each call; nothing to raise.
void deliver_failure(const char*, std::size_t) {}

}  // namespace sv::platform
