#include "base/owner_window.h"

namespace sv {
namespace {

// Constant-initialised, so it is valid before any load hook runs.
std::uintptr_t g_owner_window = 0;

}  // namespace

std::uintptr_t owner_window() { return g_owner_window; }
void set_owner_window(std::uintptr_t window) { g_owner_window = window; }

}  // namespace sv
