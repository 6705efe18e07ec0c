// The real parameter dialog under Wine: the test loads the DLL, opens the
// dialog through CallParameterDialogDLL and drives it in the same thread
// from a thread timer that the modal loop dispatches. A WH_CBT hook catches
// the dialog's window; message boxes are read and closed from the timer.
#include <windows.h>

#include <commctrl.h>
#include <imm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/user_data.h"
#include "dialog/UDPSV2SimulinkForm.h"
#include "platform/win32/wide.h"
#include "plugin/block_record.h"
#include "png_writer.h"
#include "system/guard.h"
#include "system/udp_probe.h"
#include "tests/common/deadline.h"
#include "tests/common/texts.h"
#include "udpsv_exports.h"

namespace {

HMODULE g_dll;
InitUserDLL_fn g_init;
DisposeUserDLL_fn g_dispose;
CallParameterDialogDLL_fn g_dialog;

// malloc as the DLL imports it, made to fail the next g_failing_mallocs
// times: the one failure a test can plant inside the dialog.
using MallocFn = void*(__cdecl*)(size_t);
MallocFn g_malloc;
int g_failing_mallocs = 0;
void* __cdecl failing_malloc(size_t size) {
  if (g_failing_mallocs > 0) {
    --g_failing_mallocs;
    return nullptr;
  }
  return g_malloc(size);
}

// MessageBeep as the DLL imports it, replaced by a counter.
std::vector<UINT> g_beeps;
BOOL WINAPI counting_beep(UINT type) {
  g_beeps.push_back(type);
  return TRUE;
}

// The common controls as a system without the up-down class would answer:
// the classes asked for are kept, and with g_no_up_down both calls fail.
DWORD g_asked_classes = 0;
bool g_no_up_down = false;
BOOL WINAPI init_common_controls(const INITCOMMONCONTROLSEX* icc) {
  g_asked_classes = icc->dwICC;
  return !g_no_up_down && InitCommonControlsEx(icc);
}
BOOL WINAPI class_info(HINSTANCE module, LPCWSTR name, WNDCLASSEXW* info) {
  return !g_no_up_down && GetClassInfoExW(module, name, info);
}

// A host aware of each monitor's DPI, with its window on a monitor other than
// the primary one, at another DPI than the system's. Wine has one monitor and
// gives every window the system's DPI, so the test plays both: while
// g_monitor is set, the DLL's calls for a monitor, a window's DPI and the
// frame at a DPI see that monitor and g_monitor_dpi; the frame is the one
// Wine draws. What the DLL asked is kept.
std::optional<RECT> g_monitor;  // its work area
UINT g_monitor_dpi = 0;
HWND g_monitor_asked_for = nullptr;
std::vector<UINT> g_frame_dpis;
struct DpiBehavior {
  HWND dialog;
  int mask, values;
};
std::vector<DpiBehavior> g_dpi_behaviors;

HMONITOR WINAPI monitor_from_window(HWND h, DWORD flags) {
  g_monitor_asked_for = h;
  return MonitorFromWindow(h, flags);
}
BOOL WINAPI monitor_info(HMONITOR monitor, MONITORINFO* info) {
  if (!GetMonitorInfoW(monitor, info)) return FALSE;
  if (g_monitor) info->rcWork = *g_monitor;
  return TRUE;
}
UINT WINAPI dpi_for_window(HWND) { return g_monitor_dpi; }
BOOL WINAPI frame_for_dpi(RECT* rect, DWORD style, BOOL menu, DWORD ex_style, UINT dpi) {
  g_frame_dpis.push_back(dpi);
  return AdjustWindowRectEx(rect, style, menu, ex_style);
}
BOOL WINAPI set_dpi_behavior(HWND dialog, int mask, int values) {
  g_dpi_behaviors.push_back({dialog, mask, values});
  return TRUE;
}
// The DLL's run-time look-ups: while g_monitor is set, these three
// functions, which Windows 10 has and Windows 7 lacks, are the test's.
FARPROC WINAPI look_up(HMODULE module, const char* name) {
  const struct {
    const char* name;
    void* function;
  } kNewer[] = {{"GetDpiForWindow", reinterpret_cast<void*>(&dpi_for_window)},
                {"AdjustWindowRectExForDpi", reinterpret_cast<void*>(&frame_for_dpi)},
                {"SetDialogDpiChangeBehavior", reinterpret_cast<void*>(&set_dpi_behavior)}};
  if (g_monitor && reinterpret_cast<std::uintptr_t>(name) > 0xFFFF) {
    for (const auto& f : kNewer)
      if (std::strcmp(name, f.name) == 0) return reinterpret_cast<FARPROC>(f.function);
  }
  return GetProcAddress(module, name);
}

// With replacement null: only whether the module imports the function.
bool patch_import(HMODULE module, const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name;
       ++imp) {
    if (_stricmp(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    for (; names->u1.AddressOfData; ++names, ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(by_name->Name), function) != 0) continue;
      if (!replacement) return true;
      DWORD old;
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &old);
      thunk->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

template <class Fn>
Fn export_of(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_dll, name)));
}

void load_plugin() {
  g_dll = LoadLibraryW(L"UDPSV2Simulink.dll");
  ASSERT_NE(g_dll, nullptr);
  g_init = export_of<InitUserDLL_fn>("InitUserDLL");
  g_dispose = export_of<DisposeUserDLL_fn>("DisposeUserDLL");
  g_dialog = export_of<CallParameterDialogDLL_fn>("CallParameterDialogDLL");
  ASSERT_TRUE(g_init && g_dispose && g_dialog);
  const struct {
    const char *dll, *function;
    void* replacement;
  } kPatches[] = {
      {"user32.dll", "MessageBeep", reinterpret_cast<void*>(&counting_beep)},
      {"msvcrt.dll", "malloc", reinterpret_cast<void*>(&failing_malloc)},
      {"comctl32.dll", "InitCommonControlsEx", reinterpret_cast<void*>(&init_common_controls)},
      {"user32.dll", "GetClassInfoExW", reinterpret_cast<void*>(&class_info)},
      {"user32.dll", "MonitorFromWindow", reinterpret_cast<void*>(&monitor_from_window)},
      {"user32.dll", "GetMonitorInfoW", reinterpret_cast<void*>(&monitor_info)},
      {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&look_up)}};
  for (const auto& p : kPatches) {
    ASSERT_TRUE(patch_import(g_dll, p.dll, p.function, p.replacement)) << p.function;
  }
}

class PluginEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A host aware of the display's DPI, which shows the dialog unstretched.
    SetProcessDPIAware();
    // A host with the toolchain's shared libgcc in its process, as any block
    // or tool built with it brings it.
    if (const char* path = std::getenv("SV_TEST_SHARED_LIBGCC")) {
      ASSERT_NE(LoadLibraryA(path), nullptr) << path;
    }
    // A host that loaded its string library from a folder of its own before
    // the plug-in; it lets go of its copy once the plug-in is loaded.
    HMODULE host_copy = nullptr;
    if (const char* path = std::getenv("SV_TEST_HOST_STRINGLIB")) {
      host_copy = LoadLibraryA(path);
      ASSERT_NE(host_copy, nullptr) << path;
    }
    g_malloc = reinterpret_cast<MallocFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "malloc")));
    ASSERT_NE(g_malloc, nullptr);
    load_plugin();
    if (host_copy) FreeLibrary(host_copy);
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new PluginEnvironment);

std::wstring text_of(HWND h) {
  wchar_t buf[1024];
  int n = GetWindowTextW(h, buf, 1024);
  return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring class_of(HWND h) {
  wchar_t buf[64];
  int n = GetClassNameW(h, buf, 64);
  return std::wstring(buf, n > 0 ? n : 0);
}

struct ShownBox {
  std::wstring caption;
  std::wstring text;
  HWND owner;
  HWND focus_after;  // where the focus went back to
};

// One dialog session: the steps run one per timer tick while no message box
// is open; open boxes are recorded and closed first.
struct Session {
  std::vector<std::function<void(HWND)>> steps;
  std::size_t next = 0;
  HWND dialog = nullptr;
  std::vector<ShownBox> boxes;
  // A hang guard only: each tick takes a step as soon as the dialog can.
  ULONGLONG deadline =
      GetTickCount64() +
      std::chrono::duration_cast<std::chrono::milliseconds>(svtest::kDeadline).count();
  bool timed_out = false;
  bool closing_box = false;
};
Session* g_session;

LRESULT CALLBACK cbt_hook(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_ACTIVATE && g_session && !g_session->dialog) {
    HWND h = reinterpret_cast<HWND>(wp);
    if (text_of(h) == L"UDP SV2Simulink") g_session->dialog = h;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

BOOL CALLBACK find_box(HWND h, LPARAM lp) {
  if (h != g_session->dialog && IsWindowVisible(h) && class_of(h) == L"#32770") {
    *reinterpret_cast<HWND*>(lp) = h;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
  Session& s = *g_session;
  if (GetTickCount64() > s.deadline) {
    // Something is stuck: close what is open so the test can fail.
    s.timed_out = true;
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_box, reinterpret_cast<LPARAM>(&box));
    if (box) PostMessageW(box, WM_CLOSE, 0, 0);
    if (s.dialog) PostMessageW(s.dialog, WM_CLOSE, 0, 0);
    return;
  }
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), find_box, reinterpret_cast<LPARAM>(&box));
  if (box) {
    if (s.closing_box) return;
    s.boxes.push_back(
        {text_of(box), text_of(GetDlgItem(box, 0xFFFF)), GetWindow(box, GW_OWNER), nullptr});
    s.closing_box = true;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return;
  }
  if (s.closing_box) {
    s.closing_box = false;
    s.boxes.back().focus_after = GetFocus();
  }
  if (!s.dialog || !IsWindowVisible(s.dialog)) return;
  if (s.next < s.steps.size()) s.steps[s.next++](s.dialog);
}

HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

void focus(HWND dialog, int id) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(dialog, id)), TRUE);
}

// Selects the whole text and types over it, as a user does.
void type_over(HWND dialog, int id, const wchar_t* chars) {
  focus(dialog, id);
  HWND h = item(dialog, id);
  SendMessageW(h, EM_SETSEL, 0, -1);
  PostMessageW(h, WM_CHAR, VK_BACK, 1);
  for (const wchar_t* p = chars; *p; ++p) PostMessageW(h, WM_CHAR, *p, 1);
}

// An export called as a careful host calls it: the text of its failure
// (UTF-8), or "" when it succeeded.
template <class Call>
std::string guarded(Call call) {
  std::string raw;
  void (*thunk)(void*) = [](void* c) { (*static_cast<Call*>(c))(); };
  const bool ok = svhost::call_guarded(nullptr, thunk, &call, &raw);
  return ok ? "" : svhost::failure_text_to_utf8(raw);
}

void key(HWND target, UINT vk) {
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

void press_enter(HWND) { key(GetFocus(), VK_RETURN); }
void click(HWND dialog, int id) { SendMessageW(item(dialog, id), BM_CLICK, 0, 0); }

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    record_.assign(8192, 0);
    new_block();
    g_beeps.clear();
  }
  void TearDown() override {
    g_failing_mallocs = 0;
    g_dispose(record_.data());
  }

  // A new block whose record names the owner window.
  void set_owner(HWND owner) {
    g_dispose(record_.data());
    std::memcpy(record_.data() + SV_BLOCK_OWNER_WINDOW, &owner, sizeof owner);
    new_block();
  }
  void new_block() {
    g_init(record_.data());
    data_ = sv::block_record::user_data(record_.data());
  }

  void run(std::vector<std::function<void(HWND)>> steps) {
    Session s;
    s.steps = std::move(steps);
    g_session = &s;
    HHOOK hook = SetWindowsHookExW(WH_CBT, cbt_hook, nullptr, GetCurrentThreadId());
    UINT_PTR timer = SetTimer(nullptr, 0, 20, tick);
    // A failure of the call arrives as the plug-in's structured exception.
    std::string raw;
    const bool ok = svhost::call_guarded(
        nullptr, [](void* self) { static_cast<Dialog*>(self)->open_dialog(); }, this, &raw);
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(hook);
    g_session = nullptr;
    EXPECT_FALSE(s.timed_out) << "the session was stuck at step " << s.next << " of "
                              << s.steps.size() << " after " << s.boxes.size() << " message boxes";
    EXPECT_EQ(s.dialog != nullptr, !s.steps.empty()) << "a dialog shows exactly when steps are due";
    EXPECT_EQ(s.next, s.steps.size());
    boxes_ = std::move(s.boxes);
    failure_ = ok ? "" : svhost::failure_text_to_utf8(raw);
    if (!expect_failure_) {
      EXPECT_EQ(failure_, "") << "the dialog call failed";
    }
  }
  void open_dialog() { g_dialog(record_.data(), &byte_); }

  std::vector<unsigned char> record_;
  sv::TUserData* data_ = nullptr;
  std::uint8_t byte_ = 0xEE;
  std::vector<ShownBox> boxes_;
  bool expect_failure_ = false;
  std::string failure_;  // the call's failure, UTF-8; empty when it succeeded
};

void expect_rect(HWND dialog, int id, int l, int t, int w, int h) {
  RECT r;
  GetWindowRect(item(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, l) << id;
  EXPECT_EQ(r.top, t) << id;
  if (w >= 0) {
    EXPECT_EQ(r.right - r.left, w) << id;
  }
  if (h >= 0) {
    EXPECT_EQ(r.bottom - r.top, h) << id;
  }
}

RECT rect_in(HWND dialog, int id) {
  RECT r;
  GetWindowRect(item(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

const sv::ui::ControlSpec& form_control(int id) {
  for (const auto& c : sv::form::kParameterForm.controls)
    if (c.id == id) return c;
  throw std::logic_error("no such control");
}

// The field and its up-down together fill the form's rectangle of both, the
// arrows keep their place and width, and the field reaches under them by its
// 2-pixel border without ever painting it there: one control, no seam.
void expect_inputs_pair_is_one_control(HWND d) {
  const auto& field = form_control(sv::kIntegerEdit1);
  const auto& arrows = form_control(sv::kUpDown2);
  ASSERT_EQ(arrows.buddy_id, field.id);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(item(d, sv::kUpDown2), UDM_GETBUDDY, 0, 0)),
            item(d, sv::kIntegerEdit1));
  RECT f = rect_in(d, sv::kIntegerEdit1), a = rect_in(d, sv::kUpDown2), both;
  UnionRect(&both, &f, &a);
  EXPECT_EQ(both.left, field.left);
  EXPECT_EQ(both.top, field.top);
  EXPECT_EQ(both.right, arrows.left + arrows.width);
  EXPECT_EQ(both.bottom, field.top + field.height);
  EXPECT_EQ(a.left, arrows.left);
  EXPECT_EQ(a.right - a.left, arrows.width);
  EXPECT_EQ(a.top, f.top);
  EXPECT_EQ(a.bottom, f.bottom);
  EXPECT_EQ(f.right, a.left + 2);
  RECT visible{};
  EXPECT_EQ(GetWindowRgnBox(item(d, sv::kIntegerEdit1), &visible), SIMPLEREGION);
  EXPECT_EQ(f.left + visible.right, a.left);
  EXPECT_TRUE(GetWindowLongW(item(d, sv::kUpDown2), GWL_STYLE) & UDS_ALIGNRIGHT);
}

// Edit fields without the edit control's default length limit.
void expect_edits_unlimited(HWND d) {
  for (int id : {sv::kIPEdit, sv::kPortEdit, sv::kIntegerEdit1}) {
    EXPECT_EQ(SendMessageW(item(d, id), EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE) << id;
  }
}

std::wstring exe_dir() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/"));
}

TEST_F(Dialog, OpensLaidOutOwnedAndOnTopWithTheFocusOnOK) {
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  set_owner(host);
  data_->Port = 1600;
  run({[&](HWND d) {
         EXPECT_EQ(text_of(d), L"UDP SV2Simulink");
         EXPECT_EQ(GetWindow(d, GW_OWNER), host);
         EXPECT_FALSE(IsWindowEnabled(host));
         EXPECT_TRUE(GetWindowLongW(d, GWL_EXSTYLE) & WS_EX_TOPMOST);
         RECT c;
         GetClientRect(d, &c);
         EXPECT_EQ(c.right, 457);
         EXPECT_EQ(c.bottom, 202);
         RECT w;
         GetWindowRect(d, &w);
         EXPECT_NEAR((w.left + w.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
         EXPECT_NEAR((w.top + w.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
         for (const auto& c2 : sv::form::kParameterForm.controls) {
           // Labels grow to fit their text; the up-down's buddy reaches under
           // the up-down (checked below).
           if (c2.id == sv::kIntegerEdit1) continue;
           bool label = c2.kind == sv::ui::ControlKind::label;
           expect_rect(d, c2.id, c2.left, c2.top, label ? -1 : c2.width, c2.height);
         }
         expect_inputs_pair_is_one_control(d);
         expect_edits_unlimited(d);
         LOGFONTW lf{};
         GetObjectW(reinterpret_cast<HFONT>(SendMessageW(item(d, sv::kOKButton), WM_GETFONT, 0, 0)),
                    sizeof lf, &lf);
         EXPECT_EQ(std::wstring(lf.lfFaceName), L"MS Sans Serif");
         EXPECT_EQ(lf.lfHeight, -11);
         EXPECT_EQ(g_asked_classes, static_cast<DWORD>(ICC_UPDOWN_CLASS));
         EXPECT_EQ(GetFocus(), item(d, sv::kOKButton));
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"1600");
         EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"1");
         EXPECT_EQ(SendMessageW(item(d, sv::kDataTypeCB), CB_GETCOUNT, 0, 0), 4);
         EXPECT_EQ(text_of(item(d, sv::kDataTypeCB)), L"double");
         EXPECT_EQ(SendMessageW(d, DM_GETDEFID, 0, 0), MAKELONG(sv::kOKButton, DC_HASDEFID));
       },
       [&](HWND d) { press_enter(d); }});
  EXPECT_TRUE(IsWindowEnabled(host));
  DestroyWindow(host);
  EXPECT_EQ(data_->IPAddress, u"127.0.0.1");
  EXPECT_EQ(data_->Port, 1600);
  EXPECT_EQ(data_->Inputs, 1);
  EXPECT_EQ(data_->DataType, 0);
  EXPECT_EQ(byte_, 1);
  EXPECT_TRUE(boxes_.empty());
}

// The picture a user sees: an address typed beyond the edit control's old
// limit of 30,000 characters (Wine) and the inputs field with its arrows as
// one control. Saved as the dialog's screenshot. The first 30,000 characters
// are zero-width spaces, so that what is typed after them can be seen: Wine
// draws nothing of a line wider than X11's 16-bit coordinates.
TEST_F(Dialog, ALongAddressIsTypedInFullBesideTheInputsPair) {
  std::wstring filler;
  while (filler.size() < 30000) filler += L"\u200B";
  const std::wstring typed = L".beyond-30000";
  data_->Inputs = 12;
  run({[&](HWND d) {
         SetWindowTextW(item(d, sv::kIPEdit), filler.c_str());
         focus(d, sv::kIPEdit);
         SendMessageW(item(d, sv::kIPEdit), EM_SETSEL, filler.size(), filler.size());
         for (wchar_t c : typed) PostMessageW(item(d, sv::kIPEdit), WM_CHAR, c, 1);
       },
       [&](HWND d) {
         EXPECT_EQ(GetWindowTextLengthW(item(d, sv::kIPEdit)),
                   static_cast<int>(filler.size() + typed.size()));
         expect_inputs_pair_is_one_control(d);
         RedrawWindow(d, nullptr, nullptr,
                      RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
         // The field alone repainting, frame included, must not bring the seam back.
         RedrawWindow(item(d, sv::kIntegerEdit1), nullptr, nullptr,
                      RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
         EXPECT_TRUE(svtest::save_window_png(d, exe_dir() + L"\\parameter-dialog.png"));
         press_enter(d);
       }});
  EXPECT_EQ(data_->IPAddress.size(), filler.size() + typed.size());
  EXPECT_EQ(data_->IPAddress.substr(filler.size()), u".beyond-30000");
  EXPECT_EQ(data_->Inputs, 12);
}

TEST_F(Dialog, CancelAfterEditsStoresNothing) {
  run({[&](HWND d) {
         SetWindowTextW(item(d, sv::kIPEdit), L"10.1.2.3");
         type_over(d, sv::kPortEdit, L"4000");
       },
       [&](HWND d) {
         focus(d, sv::kIntegerEdit1);
         key(item(d, sv::kIntegerEdit1), VK_UP);
         SendMessageW(item(d, sv::kDataTypeCB), CB_SETCURSEL, 2, 0);
       },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"2");
         click(d, sv::kCancelButton);
       }});
  EXPECT_EQ(data_->IPAddress, u"127.0.0.1");
  EXPECT_EQ(data_->Port, 1600);
  EXPECT_EQ(data_->Inputs, 1);
  EXPECT_EQ(data_->DataType, 0);
  EXPECT_EQ(byte_, 0xEE);
}

// A C++ exception inside the dialog (here: memory that runs out while the
// port field checks its text) ends the dialog, changes nothing, and reaches
// the host as the call's failure with its text; the next dialog works.
TEST_F(Dialog, AFailureInsideTheDialogEndsItAndReachesTheHost) {
  expect_failure_ = true;
  run({[&](HWND d) { type_over(d, sv::kPortEdit, L"123456789"); },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"123456789");
         g_failing_mallocs = 1;
         focus(d, sv::kIPEdit);  // the field checks its text when it is left
       }});
  EXPECT_EQ(g_failing_mallocs, 0) << "the dialog allocated nothing once the field was left";
  EXPECT_EQ(failure_, "Zu wenig Arbeitsspeicher");
  EXPECT_EQ(data_->Port, 1600);
  EXPECT_EQ(byte_, 0xEE);

  expect_failure_ = false;
  run({[&](HWND d) { type_over(d, sv::kPortEdit, L"4000"); },
       [&](HWND d) { click(d, sv::kOKButton); }});
  EXPECT_EQ(data_->Port, 4000);
}

TEST_F(Dialog, EscapePressesNothingAndTheCloseBoxCancels) {
  run({[&](HWND d) {
         SetWindowTextW(item(d, sv::kIPEdit), L"changed");
         key(GetFocus(), VK_ESCAPE);
         focus(d, sv::kIPEdit);
         key(item(d, sv::kIPEdit), VK_ESCAPE);
       },
       [&](HWND d) {
         EXPECT_TRUE(IsWindowVisible(d));
         PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
       }});
  EXPECT_EQ(data_->IPAddress, u"127.0.0.1");
  EXPECT_EQ(byte_, 0xEE);
}

TEST_F(Dialog, AnEmptyAddressAndAnyPortAreStored) {
  for (const auto& entry : {std::pair{L"0", 0}, {L"-1", -1}, {L"70000", 70000}}) {
    run({[&](HWND d) {
           SetWindowTextW(item(d, sv::kIPEdit), L"");
           type_over(d, sv::kPortEdit, entry.first);
         },
         [&](HWND d) { focus(d, sv::kOKButton); }, [&](HWND d) { click(d, sv::kOKButton); }});
    EXPECT_EQ(data_->IPAddress, u"");
    EXPECT_EQ(data_->Port, entry.second);
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Dialog, TheArrowsStopAtOneAndFifty) {
  data_->Inputs = 48;
  run({[&](HWND d) {
         focus(d, sv::kIntegerEdit1);
         for (int i = 0; i < 5; ++i) key(item(d, sv::kIntegerEdit1), VK_UP);
       },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"50");
         press_enter(d);
       }});
  EXPECT_EQ(data_->Inputs, 50);
  EXPECT_EQ(byte_, 50);
  data_->Inputs = 3;
  run({[&](HWND d) {
         focus(d, sv::kIntegerEdit1);
         for (int i = 0; i < 5; ++i) key(item(d, sv::kIntegerEdit1), VK_DOWN);
       },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"1");
         press_enter(d);
       }});
  EXPECT_EQ(data_->Inputs, 1);
}

// Enter checks the focused field before it confirms: a bad entry keeps the
// dialog open and returns to the block's number, not to the form's 1.
TEST_F(Dialog, EnterChecksTheFieldAndABadEntryReturnsToTheStoredNumber) {
  data_->Inputs = 8;
  run({[&](HWND d) { type_over(d, sv::kIntegerEdit1, L"60"); }, press_enter,
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"8");
         EXPECT_EQ(GetFocus(), item(d, sv::kIntegerEdit1));
         type_over(d, sv::kIntegerEdit1, L"7");
       },
       press_enter});
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, L"Fehler");
  EXPECT_EQ(boxes_[0].text, L"Zahlenwert zu gro\u00DF");
  EXPECT_EQ(data_->Inputs, 7);
  EXPECT_EQ(byte_, 7);
}

TEST_F(Dialog, ValuesOutsideTheControlsRanges) {
  data_->DataType = 7;
  data_->Inputs = 80;
  run({[&](HWND d) {
    EXPECT_EQ(SendMessageW(item(d, sv::kDataTypeCB), CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(text_of(item(d, sv::kIntegerEdit1)), L"50");
    click(d, sv::kCancelButton);
  }});
  EXPECT_EQ(data_->Inputs, 80);
  run({[&](HWND d) { press_enter(d); }});
  EXPECT_EQ(data_->DataType, -1);
  EXPECT_EQ(data_->Inputs, 50);
  for (std::int32_t stored : {0, -4, 65536}) {
    data_->Inputs = stored;
    run({[&](HWND d) { press_enter(d); }});
    EXPECT_EQ(data_->Inputs, 1) << stored;
    EXPECT_EQ(byte_, 1);
  }
}

TEST_F(Dialog, KeysAreFilteredWithABeep) {
  run({[&](HWND d) { type_over(d, sv::kPortEdit, L"1a2. 3\r-"); },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"123-");
         click(d, sv::kCancelButton);
       }});
  EXPECT_EQ(g_beeps, (std::vector<UINT>{0, 0, 0, 0}));
}

// Texts of the German build-ins: the exe runs without SVSTRING7.DLL in its
// folder, while one sits in the current directory and must be ignored. A
// field checks its text when it is left for another control of the form,
// not for another window.
TEST_F(Dialog, GermanRangeHelpAndErrors) {
  HWND elsewhere = nullptr;
  run({[&](HWND d) {
         focus(d, sv::kIntegerEdit1);
         PostMessageW(item(d, sv::kIntegerEdit1), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
       },
       [&](HWND d) { type_over(d, sv::kPortEdit, L"-"); },
       [&](HWND) {
         elsewhere = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | WS_VISIBLE, 0, 0, 80, 20, nullptr,
                                     nullptr, nullptr, nullptr);
         SetFocus(elsewhere);
       },
       [&](HWND d) {
         EXPECT_EQ(GetFocus(), elsewhere);
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"-");
         DestroyWindow(elsewhere);
         SetActiveWindow(d);
         focus(d, sv::kPortEdit);
       },
       [&](HWND d) { focus(d, sv::kIPEdit); },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"1600");
         click(d, sv::kCancelButton);
       }});
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].caption, L"Zul\u00E4ssiger Wertebereich");
  EXPECT_EQ(boxes_[0].text, sv::platform::wide(svtest::kInputsRange));
  EXPECT_EQ(boxes_[0].owner, nullptr);
  EXPECT_EQ(boxes_[1].caption, L"Fehler");
  EXPECT_EQ(boxes_[1].text, L"Falsches Zahlenformat");
  EXPECT_EQ(boxes_[1].owner, nullptr);
}

SIZE text_extent(HWND h, const std::wstring& text) {
  HDC dc = GetDC(h);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return size;
}

// What a user sees at a DPI: form and font scaled, every control within the
// form and within its group box below the caption, no two overlapping, no
// text beyond its control.
void expect_clean_layout(HWND d, int dpi) {
  using sv::ui::ControlKind;
  RECT client;
  GetClientRect(d, &client);
  EXPECT_EQ(client.right, MulDiv(457, dpi, 96));
  EXPECT_EQ(client.bottom, MulDiv(202, dpi, 96));
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(item(d, sv::kOKButton), WM_GETFONT, 0, 0)),
             sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -MulDiv(8, dpi, 72));
  const auto within = [](const RECT& a, const RECT& b) {
    return a.left >= b.left && a.top >= b.top && a.right <= b.right && a.bottom <= b.bottom;
  };
  const auto in_box = [&](const sv::ui::ControlSpec& c, const sv::ui::ControlSpec& box) {
    return box.kind == ControlKind::group_box && &c != &box &&
           within({c.left, c.top, c.left + c.width, c.top + c.height},
                  {box.left, box.top, box.left + box.width, box.top + box.height});
  };
  const auto visible = [&](int id) {  // the inputs field reaches under its arrows
    RECT r = rect_in(d, id);
    if (id == sv::kIntegerEdit1) r.right = rect_in(d, sv::kUpDown2).left;
    return r;
  };
  for (const auto& c : sv::form::kParameterForm.controls) {
    HWND h = item(d, c.id);
    RECT room;  // where the control's text must fit
    GetClientRect(h, &room);
    if (c.kind == ControlKind::edit)
      SendMessageW(h, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
    if (c.kind == ControlKind::push_button || c.kind == ControlKind::group_box)
      InflateRect(&room, -8, c.kind == ControlKind::push_button ? -2 : 0);
    COMBOBOXINFO combo{};
    combo.cbSize = sizeof combo;
    if (GetComboBoxInfo(h, &combo)) room = combo.rcItem;
    const SIZE text = text_extent(h, combo.cbSize && combo.hwndCombo ? L"boolean" : text_of(h));
    EXPECT_LE(text.cx, room.right - room.left) << "text cut in control " << c.id;
    EXPECT_LE(text.cy, room.bottom - room.top) << "text cut in control " << c.id;
    const RECT r = visible(c.id);
    EXPECT_TRUE(within(r, client)) << "control " << c.id << " leaves the form";
    for (const auto& o : sv::form::kParameterForm.controls) {
      RECT other = visible(o.id), common;
      if (in_box(c, o)) {
        other.top += text_extent(item(d, o.id), text_of(item(d, o.id))).cy;
        InflateRect(&other, -2, -2);
        EXPECT_TRUE(within(r, other)) << "control " << c.id << " leaves its group box";
      } else if (&o != &c && !in_box(o, c)) {
        EXPECT_FALSE(IntersectRect(&common, &r, &other)) << c.id << " overlaps " << o.id;
      }
    }
  }
}

// The dialog at the display's DPI (the run's SV_DPI), with its picture,
// then moved to a monitor of 144 dpi.
TEST_F(Dialog, NothingOverlapsOrIsCutAtTheDisplaysDpi) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  ASSERT_EQ(dpi, std::getenv("SV_DPI") ? std::atoi(std::getenv("SV_DPI")) : 96);
  data_->IPAddress = u"255.255.255.255";
  data_->Port = 65535;
  data_->Inputs = 50;
  run({[&](HWND d) {
    expect_clean_layout(d, dpi);
    RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const std::wstring name = L"\\parameter-dialog-" + std::to_wstring(dpi) + L"dpi.png";
    EXPECT_TRUE(svtest::save_window_png(d, exe_dir() + name));
    RECT moved{0, 0, MulDiv(457, 144, 96), MulDiv(202, 144, 96)};
    AdjustWindowRectEx(&moved, GetWindowLongW(d, GWL_STYLE), FALSE, GetWindowLongW(d, GWL_EXSTYLE));
    SendMessageW(d, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&moved));
    expect_clean_layout(d, 144);
    click(d, sv::kCancelButton);
  }});
}

// In a host aware of each monitor's DPI, with its window on a monitor of
// 144 dpi beside the primary one: the dialog is laid out and framed at that
// DPI, centred on that monitor, and the dialog manager lays nothing out
// anew on its own. The functions that Windows 7 lacks are looked up, never
// imported.
TEST_F(Dialog, OnTheOwnersMonitorAtItsDpi) {
  for (const char* newer :
       {"GetDpiForWindow", "AdjustWindowRectExForDpi", "SetDialogDpiChangeBehavior"}) {
    EXPECT_FALSE(patch_import(g_dll, "user32.dll", newer, nullptr)) << newer << " is imported";
  }
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  set_owner(host);
  g_monitor = RECT{200, 150, 1000, 750};
  g_monitor_dpi = 144;
  g_frame_dpis.clear();
  g_dpi_behaviors.clear();
  HWND dialog = nullptr;
  run({[&](HWND d) {
    dialog = d;
    expect_clean_layout(d, 144);
    RECT w;
    GetWindowRect(d, &w);
    EXPECT_NEAR((w.left + w.right) / 2, 600, 1);
    EXPECT_NEAR((w.top + w.bottom) / 2, 450, 1);
    click(d, sv::kCancelButton);
  }});
  g_monitor.reset();
  DestroyWindow(host);
  EXPECT_EQ(g_monitor_asked_for, host);
  EXPECT_EQ(g_frame_dpis, std::vector<UINT>{144});
  ASSERT_EQ(g_dpi_behaviors.size(), 1u);
  EXPECT_EQ(g_dpi_behaviors[0].dialog, dialog);
  EXPECT_EQ(g_dpi_behaviors[0].mask, 1);  // DDC_DISABLE_ALL
  EXPECT_EQ(g_dpi_behaviors[0].values, 1);
}

// No input method composes in the number fields (an East Asian one would
// type full-width digits there); such digits sent anyway are refused as
// any other key. The address field keeps its input method.
TEST_F(Dialog, NumberFieldsTypeWithoutAnInputMethod) {
  run({[&](HWND d) {
         for (int id : {sv::kPortEdit, sv::kIntegerEdit1, sv::kIPEdit}) {
           HIMC context = ImmGetContext(item(d, id));
           EXPECT_EQ(context != nullptr, id == sv::kIPEdit) << id;
           ImmReleaseContext(item(d, id), context);
         }
         type_over(d, sv::kPortEdit, L"\uFF11\uFF12");
       },
       [&](HWND d) {
         EXPECT_EQ(text_of(item(d, sv::kPortEdit)), L"");
         click(d, sv::kCancelButton);
       }});
  EXPECT_EQ(g_beeps, (std::vector<UINT>{0, 0}));
}

// Without the up-down class the call fails with a text that says so.
TEST_F(Dialog, WithoutTheUpDownClassTheCallFailsClearly) {
  g_no_up_down = expect_failure_ = true;
  run({});
  g_no_up_down = false;
  EXPECT_EQ(failure_,
            svtest::as_host_gets("Der Parameterdialog kann nicht ge\u00F6ffnet werden: "
                                 "Das Auf-Ab-Feld der Common Controls (COMCTL32.DLL) fehlt."));
}

// A host that answers the failure by continuing the exception: the call
// returns, and the library holds no reference of its own afterwards (it had
// given that reference back twice, and unloaded inside the host's next call).
LONG CALLBACK continue_failure(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == SV_FAILURE_EXCEPTION_CODE
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(Dialog, AFailureTheHostContinuesReturnsAndTheLibraryStays) {
  PVOID handler = AddVectoredExceptionHandler(1, continue_failure);
  g_no_up_down = true;
  open_dialog();
  g_no_up_down = false;
  RemoveVectoredExceptionHandler(handler);
  EXPECT_GT(export_of<GetLastFailureDLL_fn>("GetLastFailureDLL")(nullptr, 0), 0);
  g_dispose(record_.data());
  new_block();
  EXPECT_EQ(GetModuleHandleW(L"UDPSV2Simulink.dll"), g_dll);
  run({[&](HWND d) { click(d, sv::kOKButton); }});
  EXPECT_EQ(byte_, 1);
}

// A host that calls the library from its own messages while the dialog is
// open (a timer that the modal loop dispatches): a run works on the stored
// values, a second dialog for the block is refused, a dispose leaves OK
// nothing to store, and FreeLibrary unloads the library only once the
// dialog is gone.
TEST_F(Dialog, ReentrantCallsFromTheHostsMessages) {
  svhost::UdpProbe probe;
  data_->Port = probe.port();
  const std::vector<unsigned char> values(2560, 0);
  std::string failures;
  run({[&](HWND d) {
         failures = guarded([&] {
                      export_of<InitSimulationDLL_fn>("InitSimulationDLL")(record_.data(),
                                                                           values.data(), 0);
                      export_of<SimulateDLL2_fn>("SimulateDLL2")(0, 0, 0, 0, 0, 0, record_.data(),
                                                                 values.data(), 0);
                      export_of<EndSimulationDLL2_fn>("EndSimulationDLL2")(record_.data());
                    }) +
                    guarded([&] { open_dialog(); });
         type_over(d, sv::kPortEdit, L"4000");
       },
       [&](HWND d) { click(d, sv::kOKButton); }});
  EXPECT_EQ(failures,
            svtest::as_host_gets("Der Parameterdialog dieses Blocks ist bereits ge\u00F6ffnet."));
  EXPECT_EQ(probe.drain(svhost::kQuietMs), 2u);
  EXPECT_EQ(data_->Port, 4000);

  byte_ = 0xEE;
  run({[&](HWND) { g_dispose(record_.data()); }, [&](HWND d) { click(d, sv::kOKButton); }});
  EXPECT_EQ(byte_, 0xEE);
  new_block();
  for (const int button : {sv::kOKButton, sv::kCancelButton}) {
    run({[&](HWND) { FreeLibrary(g_dll); }, [&](HWND d) { click(d, button); }});
    EXPECT_EQ(GetModuleHandleW(L"UDPSV2Simulink.dll"), nullptr) << "the library stayed loaded";
    EXPECT_EQ(byte_, button == sv::kOKButton ? 1 : 0xEE);
    byte_ = 0xEE;
    load_plugin();
    new_block();
  }
}

// The fixture library's texts; the exe copies differ in which it has.
class Library : public Dialog {
 protected:
  void bad_entries() {
    run({[&](HWND d) {
           focus(d, sv::kPortEdit);
           PostMessageW(item(d, sv::kIntegerEdit1), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
         },
         [&](HWND d) { type_over(d, sv::kIntegerEdit1, L"99"); },
         [&](HWND d) { focus(d, sv::kPortEdit); },
         [&](HWND d) { type_over(d, sv::kPortEdit, L"+"); }, [&](HWND d) { focus(d, sv::kIPEdit); },
         [&](HWND d) {
           dialog_ = d;
           click(d, sv::kCancelButton);
         }});
  }
  HWND dialog_ = nullptr;
};

TEST_F(Library, Full) {
  bad_entries();
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].caption, L"Allowed range");
  EXPECT_EQ(boxes_[0].text, L"Allowed range:\n\rfrom: 1\n\rto: 50");
  EXPECT_EQ(boxes_[0].owner, dialog_);
  EXPECT_EQ(boxes_[1].caption, L"Error");
  EXPECT_EQ(boxes_[1].text, L"Number too large");
  EXPECT_EQ(boxes_[1].owner, dialog_);
  EXPECT_EQ(boxes_[2].text, L"Wrong number format");
}

TEST_F(Library, No1553) {
  bad_entries();
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[1].caption, L"Error");
  EXPECT_EQ(boxes_[1].text, L"Number too large");
  EXPECT_EQ(boxes_[2].caption, L"Fehler");
  EXPECT_EQ(boxes_[2].text, L"String-Resource nicht gefunden!");
}

TEST_F(Library, No1002) {
  bad_entries();
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].caption, L"Allowed range");
  for (int i : {1, 2}) {
    EXPECT_EQ(boxes_[i].caption, L"Fehler");
    EXPECT_EQ(boxes_[i].text, L"String-Resource nicht gefunden!");
  }
}

}  // namespace
