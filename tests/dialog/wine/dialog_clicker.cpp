// Stands in for the user of `svhost dialog`: waits for the parameter dialog
// of another process, types a port over the old one and presses OK.
//   dialog_clicker PORT
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialog/UDPSV2SimulinkForm.h"
#include "tests/common/deadline.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_clicker PORT\n");
    return 2;
  }
  const ULONGLONG deadline =
      GetTickCount64() +
      std::chrono::duration_cast<std::chrono::milliseconds>(svtest::kDeadline).count();
  const auto seconds = static_cast<long long>(svtest::kDeadline.count());
  // Wait for the dialog to be shown and filled: a dialog found while its
  // initialisation still runs would have the typed port overwritten.
  HWND dialog = nullptr;
  HWND found = nullptr;
  bool visible = false;
  LRESULT port_length = 0;
  while (!dialog && GetTickCount64() < deadline) {
    found = FindWindowW(L"#32770", L"UDP SV2Simulink");
    visible = found && IsWindowVisible(found);
    // WM_GETTEXTLENGTH, since GetWindowText does not ask a control of
    // another process.
    port_length =
        visible ? SendMessageW(GetDlgItem(found, sv::kPortEdit), WM_GETTEXTLENGTH, 0, 0) : 0;
    if (port_length > 0) dialog = found;
    else Sleep(25);
  }
  if (!dialog) {
    std::fprintf(stderr,
                 "dialog_clicker: no filled dialog within %lld s (seen: %s, %s, port text of "
                 "%ld characters)\n",
                 seconds, found ? "a dialog window" : "no dialog window",
                 visible ? "visible" : "not visible", static_cast<long>(port_length));
    return 1;
  }
  HWND port = GetDlgItem(dialog, sv::kPortEdit);
  SendMessageW(port, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]));
  // Click until the dialog is gone, in case a click arrives before its
  // modal loop runs.
  int clicks = 0;
  while (IsWindow(dialog) && GetTickCount64() < deadline) {
    SendMessageW(GetDlgItem(dialog, sv::kOKButton), BM_CLICK, 0, 0);
    ++clicks;
    for (int k = 0; k < 20 && IsWindow(dialog); ++k) Sleep(25);
  }
  if (IsWindow(dialog)) {
    std::fprintf(stderr,
                 "dialog_clicker: the dialog did not close within %lld s (%d clicks on OK)\n",
                 seconds, clicks);
    return 1;
  }
  return 0;
}
