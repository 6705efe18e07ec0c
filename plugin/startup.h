// Library start-up and shutdown, and the library-wide state they set up.
#pragma once

#include <cstdint>

namespace sv {

// Called once by the platform's load and unload hooks (and by tests).
// Start-up raises when a unit fails (e.g. the settings store).
void library_startup();
void library_shutdown();

// The window that owns the library's windows while none of them is active.
std::uintptr_t owner_window();
void set_owner_window(std::uintptr_t window);

// Number formats of every conversion inside the library.
struct NumberFormats {
  char16_t decimal_separator = u'.';
  bool update_from_system = true;
};
const NumberFormats& number_formats();
void set_decimal_point();  // "." for every conversion inside the library

}  // namespace sv
