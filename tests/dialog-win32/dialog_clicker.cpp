// Stands in for the user of `svhost dialog`: waits for the parameter dialog
// of another process, types a port over the old one and presses OK.
//   dialog_clicker PORT
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialog/UDPSV2SimulinkForm.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_clicker PORT\n");
    return 2;
  }
  // Wait for the dialog to be shown and filled: a dialog found while its
  // initialisation still runs would have the typed port overwritten.
  HWND dialog = nullptr;
  for (int i = 0; i < 2400; ++i) {  // up to 60 s on a loaded machine
    dialog = FindWindowW(L"#32770", L"UDP SV2Simulink");
    // WM_GETTEXTLENGTH, since GetWindowText does not ask a control of
    // another process.
    if (dialog && IsWindowVisible(dialog) &&
        SendMessageW(GetDlgItem(dialog, sv::kPortEdit), WM_GETTEXTLENGTH, 0, 0) > 0)
      break;
    dialog = nullptr;
    Sleep(25);
  }
  if (!dialog) {
    std::fprintf(stderr, "dialog_clicker: no dialog appeared\n");
    return 1;
  }
  HWND port = GetDlgItem(dialog, sv::kPortEdit);
  SendMessageW(port, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]));
  // Click until the dialog is gone, in case a click arrives before its
  // modal loop runs.
  for (int i = 0; i < 40 && IsWindow(dialog); ++i) {
    SendMessageW(GetDlgItem(dialog, sv::kOKButton), BM_CLICK, 0, 0);
    for (int k = 0; k < 20 && IsWindow(dialog); ++k) Sleep(25);
  }
  if (IsWindow(dialog)) {
    std::fprintf(stderr, "dialog_clicker: the dialog did not close\n");
    return 1;
  }
  return 0;
}
