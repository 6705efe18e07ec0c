// The dialog's window layer on Win32: real windows. The form becomes an
// in-memory dialog template shown with DialogBoxIndirectParamW; its controls
// are then put at their pixel positions, scaled to the dialog's DPI, and the
// dialog is centred on its owner's monitor. Edit fields with a listener are
// subclassed with SetWindowSubclass. No C++ exception leaves a window or
// subclass procedure: one that is thrown ends the modal dialog and is
// rethrown by run_modal after the dialog is gone.
#include "dialog/window.h"

#include <windows.h>

#include <commctrl.h>
#include <imm.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <forward_list>
#include <string>
#include <vector>

namespace sv::ui {
namespace {

std::wstring wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

std::u16string text_of(HWND h) {
  std::wstring buf(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  const int got = GetWindowTextW(h, buf.data(), static_cast<int>(buf.size()));
  return std::u16string(buf.begin(), buf.begin() + std::max(got, 0));
}

// A function of a Windows newer than 7, looked up in user32 at run time
// (imports must exist on Windows 7); null where it is missing.
template <class Fn>
Fn newer_user32(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

struct ModalState;

// The innermost modal loop of the thread. A plain pointer: a thread_local
// with a destructor would keep the DLL loaded for as long as the thread lives.
thread_local ModalState* t_modal = nullptr;

void end_with_failure(std::exception_ptr failure);

// Posted by a field to itself when the focus has gone to another control of
// the form, so that the logic hears of it once the change is complete. The
// WM_APP range is the application's own: no control uses it.
constexpr UINT kLeftMessage = WM_APP;
constexpr UINT_PTR kSubclassId = 0x5356;

// An edit control of the dialog. Once it has a listener its subclass
// reports to it, until the control is destroyed.
class Field final : public EditWindow {
 public:
  explicit Field(HWND h) : h_(h) {}
  HWND hwnd() const { return h_; }

  std::u16string text() const override { return text_of(h_); }
  void set_text(std::u16string_view text) override { SetWindowTextW(h_, wide(text).c_str()); }
  bool read_only() const override { return (GetWindowLongW(h_, GWL_STYLE) & ES_READONLY) != 0; }
  void set_read_only(bool read_only) override { SendMessageW(h_, EM_SETREADONLY, read_only, 0); }
  void focus() override { SetFocus(h_); }
  void post(std::intptr_t lparam) override { PostMessageW(h_, private_message_, 0, lparam); }
  Window parent() const override { return reinterpret_cast<Window>(GetParent(h_)); }

  void listen(EditEvents& events, unsigned private_message) override {
    events_ = &events;
    private_message_ = private_message;
    if (!subclassed_)
      subclassed_ = SetWindowSubclass(h_, proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    ImmAssociateContextEx(h_, nullptr, 0);
  }

  // Whether Enter may press the default button while the field has the focus.
  bool accepts() {
    try {
      return !events_ || events_->accept();
    } catch (...) {
      end_with_failure(std::current_exception());
      return false;
    }
  }

 private:
  static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);

  HWND h_;
  EditEvents* events_ = nullptr;
  unsigned private_message_ = 0;
  bool subclassed_ = false;
};

LRESULT CALLBACK Field::proc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  auto* self = reinterpret_cast<Field*>(ref);
  EditEvents* events = self->events_;
  try {
    switch (msg) {
      case WM_CHAR: {
        char16_t c = static_cast<char16_t>(wp);
        events->key_press(c);
        if (c == 0) return 0;
        wp = c;
        break;
      }
      case WM_KILLFOCUS: {
        LRESULT r = DefSubclassProc(h, msg, wp, lp);
        HWND to = reinterpret_cast<HWND>(wp);
        if (to && to != h && GetAncestor(to, GA_ROOT) == GetAncestor(h, GA_ROOT))
          PostMessageW(h, kLeftMessage, 0, 0);
        return r;
      }
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN: {
        LRESULT r = DefSubclassProc(h, msg, wp, lp);
        MouseButton b = msg == WM_LBUTTONDOWN   ? MouseButton::left
                        : msg == WM_RBUTTONDOWN ? MouseButton::right
                                                : MouseButton::middle;
        events->mouse_down(b, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        return r;
      }
      case kLeftMessage: events->exit(); return 0;
      case WM_NCDESTROY:
        RemoveWindowSubclass(h, proc, id);
        self->events_ = nullptr;
        break;
      default:
        if (msg == self->private_message_) {
          events->posted(lp);
          return 0;
        }
        break;
    }
  } catch (...) {
    end_with_failure(std::current_exception());
    return 0;
  }
  return DefSubclassProc(h, msg, wp, lp);
}

struct ModalState final : Form {
  ModalState(const FormSpec& f, HWND o, DialogEvents& e) : form(f), owner(o), events(e) {}

  EditWindow& edit(int id) override {
    HWND h = GetDlgItem(dialog, id);
    if (Field* f = field(h)) return *f;
    return fields.emplace_front(h);
  }
  std::int16_t position(int id) override {
    return static_cast<std::int16_t>(
        LOWORD(SendMessageW(GetDlgItem(dialog, id), UDM_GETPOS, 0, 0)));
  }
  int index(int id) const override {
    return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
  }

  Field* field(HWND h) {
    for (Field& f : fields)
      if (f.hwnd() == h) return &f;
    return nullptr;
  }

  const FormSpec& form;
  const HWND owner;
  DialogEvents& events;
  HWND dialog = nullptr;
  bool ended = false;
  std::exception_ptr failure;
  ModalState* outer = t_modal;      // the modal loop this one runs inside, if any
  HFONT font = nullptr;             // the form's font at the dialog's DPI
  std::forward_list<Field> fields;  // where their subclasses find them
};

void end_with_failure(std::exception_ptr failure) {
  if (!t_modal) return;  // no modal loop to carry it out of
  ModalState* st = t_modal;
  if (!st->failure) st->failure = failure;
  if (!st->ended) {
    st->ended = true;
    EndDialog(st->dialog, -1);
  }
}

void finish(ModalState* st, int result) {
  if (st->ended) return;
  st->ended = true;
  try {
    st->events.closing(*st, result);
  } catch (...) {
    st->failure = std::current_exception();
    result = -1;
  }
  EndDialog(st->dialog, result);
}

// --- The dialog template -------------------------------------------------

// Controls are moved to their pixel positions after creation; the template
// only needs dialog units near them (MS Sans Serif 8: about 6 x 13 pixels).
short dlu_x(int px) { return static_cast<short>(px * 4 / 6); }
short dlu_y(int px) { return static_cast<short>(px * 8 / 13); }

class TemplateWriter {
 public:
  void word(WORD w) { words_.push_back(w); }
  void dword(DWORD d) {
    word(LOWORD(d));
    word(HIWORD(d));
  }
  void text(std::u16string_view s) {
    for (char16_t c : s) word(c);
    word(0);
  }
  void align_dword() {
    if (words_.size() % 2) word(0);
  }
  std::vector<WORD> take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

constexpr DWORD kFormStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

DWORD control_style(const ControlSpec& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  switch (c.kind) {
    case ControlKind::push_button:
      return style | WS_TABSTOP | (c.default_button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::group_box: return style | BS_GROUPBOX;
    case ControlKind::label: return style | SS_LEFTNOWORDWRAP;
    case ControlKind::edit: return style | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::drop_down_list: return style | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
    case ControlKind::up_down:
      return style | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
  }
  return style;
}

void control_class(const ControlSpec& c, TemplateWriter& t) {
  WORD atom = 0;
  switch (c.kind) {
    case ControlKind::push_button:
    case ControlKind::group_box: atom = 0x0080; break;
    case ControlKind::edit: atom = 0x0081; break;
    case ControlKind::label: atom = 0x0082; break;
    case ControlKind::drop_down_list: atom = 0x0085; break;
    case ControlKind::up_down: t.text(u"msctls_updown32"); return;
  }
  t.word(0xFFFF);
  t.word(atom);
}

std::vector<WORD> build_template(const FormSpec& form) {
  TemplateWriter t;
  t.dword(kFormStyle);
  t.dword(kFormExStyle);
  t.word(static_cast<WORD>(form.controls.size()));
  t.word(0);
  t.word(0);
  t.word(static_cast<WORD>(dlu_x(form.client_width)));
  t.word(static_cast<WORD>(dlu_y(form.client_height)));
  t.word(0);  // no menu
  t.word(0);  // the standard dialog class
  t.text(form.caption);
  t.word(static_cast<WORD>(form.font_points));
  t.text(form.font_name);
  for (const ControlSpec& c : form.controls) {
    t.align_dword();
    t.dword(control_style(c));
    t.dword(c.kind == ControlKind::edit ? WS_EX_CLIENTEDGE : 0);
    t.word(static_cast<WORD>(dlu_x(c.left)));
    t.word(static_cast<WORD>(dlu_y(c.top)));
    t.word(static_cast<WORD>(dlu_x(c.width)));
    t.word(static_cast<WORD>(dlu_y(c.height)));
    t.word(static_cast<WORD>(c.id));
    control_class(c, t);
    t.text(c.kind == ControlKind::edit ? u"" : c.text);  // a field's once its limit is off
    t.word(0);                                           // no creation data
  }
  return t.take();
}

// --- Scaling ---------------------------------------------------------------

// The form is given in pixels at 96 dpi and shown at its window's DPI: the
// monitor's for a host aware of each monitor's DPI, else the system's (a
// host unaware of DPI gets 96, and the system stretches the whole window).
// Positions, sizes and the font scale together. Windows 7 knows only the
// system's DPI; GetDpiForWindow exists from Windows 10 1607 on.
UINT window_dpi(HWND h) {
  const auto for_window = newer_user32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (UINT dpi = for_window ? for_window(h) : 0) return dpi;
  HDC dc = GetDC(h);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(h, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int scaled(int px, UINT dpi) { return MulDiv(px, static_cast<int>(dpi), 96); }

// A control's rectangle at the DPI. Edges are scaled rather than sizes, so
// that controls which touch at 96 dpi touch at every DPI.
RECT scaled(const ControlSpec& c, UINT dpi) {
  return {scaled(c.left, dpi), scaled(c.top, dpi), scaled(c.left + c.width, dpi),
          scaled(c.top + c.height, dpi)};
}

// The form's font at the DPI, made as the dialog manager makes a template's.
HFONT form_font(const FormSpec& form, UINT dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(form.font_points, static_cast<int>(dpi), 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  const std::size_t n = std::min(form.font_name.size(), std::size(lf.lfFaceName) - 1);
  std::copy_n(form.font_name.begin(), n, lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

// Labels size themselves to their text, as the form's labels do: the
// font's metrics differ between systems.
int text_width(HWND label) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
  int n = GetWindowTextW(label, text.data(), static_cast<int>(text.size()));
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), n, &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return size.cx;
}

// An up-down aligned at its buddy draws the buddy's sunken edge along its
// top, right and bottom and leaves its left side open: it is meant to cover
// the buddy's right border, so that field and arrows look like one control.
// Setting the buddy moves both by comctl32's own sizes, which differ between
// its versions; instead the pair is placed so that together it fills the
// form's rectangle of field and up-down exactly, the up-down keeping its
// place and width and the field reaching under it by its border. The field's
// window region leaves out that strip, so the field never paints its border
// over the arrows, whichever of the two repaints last.
constexpr int kBuddyBorder = 2;  // WS_EX_CLIENTEDGE of the field, at every DPI

void join_up_down(HWND dialog, const ControlSpec& up_down, const ControlSpec& buddy, UINT dpi) {
  const RECT u = scaled(up_down, dpi), b = scaled(buddy, dpi);
  HWND field = GetDlgItem(dialog, buddy.id);
  const int width = u.left + kBuddyBorder - b.left;
  MoveWindow(field, b.left, b.top, width, b.bottom - b.top, FALSE);
  MoveWindow(GetDlgItem(dialog, up_down.id), u.left, u.top, u.right - u.left, u.bottom - u.top,
             FALSE);
  // The system owns the region once it is set.
  SetWindowRgn(field, CreateRectRgn(0, 0, width - kBuddyBorder, b.bottom - b.top), FALSE);
}

// What a form's controls get once: the up-down's buddy, range and position,
// the list's items and selection, the fields' length and text.
void fill(HWND dialog, const FormSpec& form) {
  for (const ControlSpec& c : form.controls) {
    HWND h = GetDlgItem(dialog, c.id);
    if (c.kind == ControlKind::drop_down_list) {
      for (auto item : c.items)
        SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
      SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(c.index), 0);
    }
    if (c.kind == ControlKind::up_down) {
      SendMessageW(h, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(dialog, c.buddy_id)), 0);
      SendMessageW(h, UDM_SETRANGE32, static_cast<WPARAM>(c.min), c.max);
      SendMessageW(h, UDM_SETPOS32, 0, c.position);
    }
    // The form's fields have no length limit; an edit control's default
    // (30,000 characters under Wine, 32,767 on Windows) would cut a long
    // host name. 0 asks for the largest limit there is.
    if (c.kind == ControlKind::edit) {
      SendMessageW(h, EM_SETLIMITTEXT, 0, 0);
      if (!c.text.empty()) SetWindowTextW(h, wide(c.text).c_str());
    }
  }
}

// The controls' font, places and sizes at the DPI.
void lay_out(HWND dialog, const FormSpec& form, UINT dpi, HFONT font) {
  for (const ControlSpec& c : form.controls) {
    HWND h = GetDlgItem(dialog, c.id);
    if (!h) continue;
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const RECT r = scaled(c, dpi);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (c.kind == ControlKind::drop_down_list) {
      const int item = scaled(c.item_height, dpi);
      if (item > 0) SendMessageW(h, CB_SETITEMHEIGHT, 0, item);
      // The field is as high as the form says, its border included; the
      // window's height includes the dropped-down list.
      SendMessageW(h, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 6);
      height += 2 + item * static_cast<int>(c.items.size() + 1);
    }
    if (c.kind == ControlKind::label) width = std::max(width, text_width(h));
    MoveWindow(h, r.left, r.top, width, height, FALSE);
  }
  for (const ControlSpec& c : form.controls) {
    if (c.kind != ControlKind::up_down) continue;
    for (const ControlSpec& b : form.controls) {
      if (b.id == c.buddy_id) join_up_down(dialog, c, b, dpi);
    }
  }
}

// The dialog manager of a host aware of each monitor's DPI lays a dialog out
// anew on a change of DPI, against the layout here (WM_DPICHANGED below);
// Windows 10 1703 and later let a dialog turn that off.
void keep_dialog_manager_off_dpi_changes(HWND dialog) {
  constexpr int kDdcDisableAll = 0x0001;  // DDC_DISABLE_ALL
  using SetBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
  if (auto set = newer_user32<SetBehaviorFn>("SetDialogDpiChangeBehavior"))
    set(dialog, kDdcDisableAll, kDdcDisableAll);
}

// The window rectangle around a client area at the DPI: the frame at the
// dialog's own DPI where Windows knows it (10 1607 on), else the system's.
RECT framed(HWND dialog, int width, int height, UINT dpi) {
  RECT rc{0, 0, width, height};
  const auto style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  if (auto adjust = newer_user32<AdjustForDpiFn>("AdjustWindowRectExForDpi"))
    adjust(&rc, style, FALSE, ex_style, dpi);
  else AdjustWindowRectEx(&rc, style, FALSE, ex_style);
  return rc;
}

// Lays the form out again at a new DPI; the old font goes once no control
// uses it any more.
void rescale(ModalState& st, UINT dpi) {
  HFONT old = st.font;
  st.font = form_font(st.form, dpi);
  lay_out(st.dialog, st.form, dpi, st.font);
  if (old) DeleteObject(old);
}

// Laid out at the DPI of the owner's monitor, on top, centred on that
// monitor's work area (the primary monitor's without an owner).
void place(ModalState& st) {
  HWND h = st.dialog;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(st.owner ? st.owner : h, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  // A window takes the DPI of the monitor it is on (in a host aware of
  // each monitor's): moved there first, it is laid out at that DPI.
  SetWindowPos(h, nullptr, area.left, area.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const UINT dpi = window_dpi(h);
  rescale(st, dpi);
  const RECT rc =
      framed(h, scaled(st.form.client_width, dpi), scaled(st.form.client_height, dpi), dpi);
  const int w = rc.right - rc.left, height = rc.bottom - rc.top;
  SetWindowPos(h, HWND_TOPMOST, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - height) / 2, w, height, SWP_NOACTIVATE);
}

INT_PTR CALLBACK dialog_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* st = reinterpret_cast<ModalState*>(GetWindowLongPtrW(h, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      st = reinterpret_cast<ModalState*>(lp);
      SetWindowLongPtrW(h, DWLP_USER, reinterpret_cast<LONG_PTR>(st));
      st->dialog = h;
      try {
        fill(h, st->form);
        keep_dialog_manager_off_dpi_changes(h);
        place(*st);
        st->events.init(*st);
        for (const ControlSpec& c : st->form.controls) {
          if (c.kind == ControlKind::label || c.kind == ControlKind::group_box) continue;
          SetFocus(GetDlgItem(h, c.id));
          break;
        }
      } catch (...) {
        st->failure = std::current_exception();
        st->ended = true;
        EndDialog(h, -1);
      }
      return FALSE;  // the focus is set
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI (hosts aware of each monitor's):
      // laid out anew, in the rectangle the system suggests.
      if (!st) return FALSE;
      rescale(*st, LOWORD(wp));
      const RECT* r = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(h, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      return TRUE;
    }
    case WM_COMMAND: {
      if (!st || HIWORD(wp) != BN_CLICKED) return FALSE;
      // Escape sends IDCANCEL, which no control of the form bears: ignored.
      for (const ControlSpec& c : st->form.controls) {
        if (c.id == LOWORD(wp) && c.modal_result != 0) {
          // The default button acts only when the focused field takes its entry.
          Field* focused = st->field(GetFocus());
          if (c.default_button && focused && !focused->accepts()) return TRUE;
          finish(st, c.modal_result);
          return TRUE;
        }
      }
      return TRUE;
    }
    case WM_CLOSE:
      if (st) finish(st, 2);
      return TRUE;
    default: return FALSE;
  }
}

// A modal form disables the thread's other top-level windows, not only its
// owner.
BOOL CALLBACK collect_enabled(HWND h, LPARAM lp) {
  if (IsWindowVisible(h) && IsWindowEnabled(h))
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
}

HINSTANCE this_module() {
  HMODULE m = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&dialog_proc), &m);
  return m;
}

}  // namespace

int run_modal(const FormSpec& form, Window owner_window, DialogEvents& events) {
  HWND owner = reinterpret_cast<HWND>(owner_window);
  // A handle that names no window would make the dialog fail to open.
  if (owner && !IsWindow(owner)) owner = nullptr;
  // Only what the common controls 5.82 know: a process without a version 6
  // manifest gets that version. Its buttons, fields and lists are the
  // system's own classes.
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_UPDOWN_CLASS};
  WNDCLASSEXW up_down{};
  up_down.cbSize = sizeof up_down;
  if (!InitCommonControlsEx(&icc) && !GetClassInfoExW(this_module(), UPDOWN_CLASSW, &up_down))
    return kControlsMissing;
  std::vector<WORD> tmpl = build_template(form);

  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), collect_enabled, reinterpret_cast<LPARAM>(&disabled));
  for (HWND h : disabled) {
    if (h != owner) EnableWindow(h, FALSE);
  }
  ModalState st(form, owner, events);
  t_modal = &st;
  INT_PTR r = DialogBoxIndirectParamW(this_module(), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                      owner, dialog_proc, reinterpret_cast<LPARAM>(&st));
  t_modal = st.outer;
  if (st.font) DeleteObject(st.font);
  for (HWND h : disabled) {
    if (h != owner && IsWindow(h)) EnableWindow(h, TRUE);
  }
  if (st.failure) std::rethrow_exception(st.failure);
  return static_cast<int>(r);
}

}  // namespace sv::ui
