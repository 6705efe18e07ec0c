#include "platform/message_box.h"

#include <windows.h>

#include <string>

namespace sv::platform {

int message_box(Window owner, std::u16string_view text, std::u16string_view caption,
                unsigned flags) {
  // A task-modal box disables the thread's windows while it is open, so when
  // it goes nothing is left to take the activation: hand it and the focus
  // back to where they were.
  HWND active = GetActiveWindow();
  HWND focus = GetFocus();
  int r = MessageBoxW(reinterpret_cast<HWND>(owner), std::wstring(text.begin(), text.end()).c_str(),
                      std::wstring(caption.begin(), caption.end()).c_str(), flags);
  if (active && IsWindow(active) && GetActiveWindow() != active) SetActiveWindow(active);
  if (focus && IsWindow(focus) && GetFocus() != focus) SetFocus(focus);
  return r;
}

int application_message_box(Window fallback_owner, std::u16string_view text,
                            std::u16string_view caption, unsigned flags) {
  HWND active = GetActiveWindow();
  return message_box(active ? reinterpret_cast<Window>(active) : fallback_owner, text, caption,
                     flags);
}

void message_beep(unsigned type) { MessageBeep(type); }

}  // namespace sv::platform
