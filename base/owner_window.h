// The owner window: the host window that owns the library's windows while
// none of them is active. It follows the latest block created and is cleared
// by any block disposed.
#pragma once

#include <cstdint>

namespace sv {

std::uintptr_t owner_window();
void set_owner_window(std::uintptr_t window);

}  // namespace sv
