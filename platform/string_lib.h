// The host's string-resource library: one text per numeric id.
#pragma once

#include <cstdint>

namespace sv::platform {

// 0 when the library could not be loaded.
using StringLib = std::uintptr_t;

// Loads "SVSTRING7": on Windows the host's own copy, else the one in the
// host program's folder or the system's, never from the current directory
// (a file planted there must not be picked up); natively a stand-in for
// the tests. Any failure gives 0; nothing is reported.
StringLib load_string_lib();
void free_string_lib(StringLib lib);  // 0 is accepted and ignored

// Copies at most room - 1 characters of the id's text and a terminating zero
// into buffer; returns the number of characters copied, 0 when the id has no
// text. room must be at least 1.
int load_string(StringLib lib, unsigned id, char16_t* buffer, int room);

}  // namespace sv::platform
