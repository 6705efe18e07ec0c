// How a failure that ended an export is handed to the host, once the core has
// recorded its text. Called from the export's outermost frame only, after
// every C++ object of the call has been destroyed.
#pragma once

#include <cstddef>

namespace sv::platform {

// Natively the export simply returns; on win32 this raises the structured
// exception that hosts catch, and does not return.
void deliver_failure(const char* text, std::size_t length);

}  // namespace sv::platform
