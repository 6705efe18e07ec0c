// Message boxes and the beep: the texts of SVString and the dialog's fields.
// Natively there are none (posix/message_box.cpp); the native tests link a
// headless stand-in that records them (tests/common/headless.h).
#pragma once

#include <cstdint>
#include <string_view>

namespace sv::platform {

using Window = std::uintptr_t;  // 0: none

inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbTaskModal = 0x2000;

// A modal message box; owner 0 gives a box without owner window. The
// active window and the focus are back where they were when it returns.
int message_box(Window owner, std::u16string_view text, std::u16string_view caption,
                unsigned flags);
// The application's message box: owned by the thread's active window, else
// by fallback_owner.
int application_message_box(Window fallback_owner, std::u16string_view text,
                            std::u16string_view caption, unsigned flags);
void message_beep(unsigned type);

}  // namespace sv::platform
