// The win32 window layer on its own, on real windows (Xvfb).
#include "platform/window.h"

#include <windows.h>

#include <cstdint>

#include <gtest/gtest.h>

namespace {

// The integer fields' subclass comes off again without GetWindowSubclass
// (which the common controls 5.82 export by ordinal only).
struct CountingEvents : sv::ui::EditEvents {
  int keys = 0;
  int privates = 0;
  void key_press(char16_t&) override { ++keys; }
  void exit() override {}
  void mouse_down(sv::ui::MouseButton, int, int) override {}
  void private_message(std::uintptr_t, std::intptr_t) override { ++privates; }
  bool accept() override { return true; }
};

TEST(Win32Window, AnUnsubclassedFieldReportsNothingMore) {
  const unsigned kPrivate = WM_APP + 7;
  HWND edit =
      CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 80, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(edit, nullptr) << GetLastError();
  const auto field = reinterpret_cast<sv::ui::Window>(edit);
  CountingEvents events;
  sv::ui::subclass_edit(field, &events, kPrivate);
  SendMessageW(edit, WM_CHAR, L'5', 1);
  SendMessageW(edit, kPrivate, 0, 0);
  EXPECT_EQ(events.keys, 1) << "the subclassed field did not report its key";
  EXPECT_EQ(events.privates, 1);

  sv::ui::unsubclass_edit(field);
  SendMessageW(edit, WM_CHAR, L'6', 1);
  SendMessageW(edit, kPrivate, 0, 0);
  EXPECT_EQ(events.keys, 1) << "a key still reached the events after unsubclass_edit";
  EXPECT_EQ(events.privates, 1);
  wchar_t text[8] = {};
  GetWindowTextW(edit, text, 8);
  EXPECT_STREQ(text, L"56") << "the edit control lost a key";
  sv::ui::unsubclass_edit(field);  // a second time: nothing left to remove
  DestroyWindow(edit);             // nor anything left to free
  sv::ui::unsubclass_edit(field);  // and a field that is gone
}

}  // namespace
