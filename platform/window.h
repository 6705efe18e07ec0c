// The window layer: message boxes, the beep, and the few window services the
// dialog and its integer fields need. On win32 these are real windows; the
// native build has none (posix/no_windows.cpp), and its tests link a
// headless window system (tests/common/headless.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sv::ui {

using Window = std::uintptr_t;  // 0: none

inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbTaskModal = 0x2000;

// A modal message box; owner 0 gives a box without owner window.
int message_box(Window owner, std::u16string_view text, std::u16string_view caption,
                unsigned flags);
// The application's message box: owned by the thread's active window, else
// by fallback_owner; the previously active window and focus come back.
int application_message_box(Window fallback_owner, std::u16string_view text,
                            std::u16string_view caption, unsigned flags);
void message_beep(unsigned type);

std::u16string window_text(Window window);
void set_window_text(Window window, std::u16string_view text);
Window parent_window(Window window);
void set_focus(Window window);
Window focused_window();
void post_message(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);

bool edit_read_only(Window edit);
void set_edit_read_only(Window edit, bool read_only);

enum class MouseButton { left, right, middle };

// What a subclassed edit field reports to the object behind it. The layer
// calls these inside its window procedure and lets no exception escape:
// one that is thrown ends the modal dialog and leaves run_modal instead.
class EditEvents {
 public:
  // Every typed character; setting ch to 0 drops it.
  virtual void key_press(char16_t& ch) = 0;
  // The focus has gone to another control of the same form.
  virtual void exit() = 0;
  virtual void mouse_down(MouseButton button, int x, int y) = 0;
  // The private message given to subclass_edit, posted to the field.
  virtual void private_message(std::uintptr_t wparam, std::intptr_t lparam) = 0;
  // The dialog's default button is about to act (Enter) while the field has
  // the focus; false keeps the dialog open.
  virtual bool accept() = 0;

 protected:
  ~EditEvents() = default;
};

void subclass_edit(Window edit, EditEvents* events, unsigned private_message);
void unsubclass_edit(Window edit);
// No input method composes text in the field: keys reach it as typed.
void keep_input_method_off(Window edit);

// A form described by data. Positions are pixels at 96 dpi relative to the
// form's client area, scaled with the font to the DPI the form is shown at;
// the order of the controls is the tab order.
enum class ControlKind { push_button, group_box, label, edit, drop_down_list, up_down };

struct ControlSpec {
  int id;
  ControlKind kind;
  std::u16string_view text;
  int left, top, width, height;
  bool default_button = false;                      // Enter presses it
  int modal_result = 0;                             // of a push button; 0 = none
  int buddy_id = 0;                                 // up-down: its associated edit
  int min = 0, max = 0, position = 0;               // up-down
  std::span<const std::u16string_view> items = {};  // drop-down list
  int item_height = 0;
};

struct FormSpec {
  std::u16string_view caption;
  int client_width, client_height;
  std::u16string_view font_name;
  int font_points;
  std::span<const ControlSpec> controls;
};

class DialogEvents {
 public:
  // The controls exist and nothing is shown yet.
  virtual void init(Window dialog) = 0;
  // The modal result is set; the controls still exist.
  virtual void closing(Window dialog, int modal_result) = 0;

 protected:
  ~DialogEvents() = default;
};

// Shows the form modally, stays on top, centred on the screen, owned by
// owner (0: none), with the focus on the first control of the tab order.
// The close box gives 2; Escape presses nothing; the default button acts
// only once a focused edit field accepts. Returns the modal result,
// or -1 when the form cannot be shown. An exception from the events or from
// an edit field ends the dialog and is rethrown here once it is gone.
int run_modal(const FormSpec& form, Window owner, DialogEvents& events);

Window dialog_item(Window dialog, int id);

// Up-down with a buddy edit: setting moves a position outside the range to
// the nearer bound and writes it into the buddy as plain decimal; reading
// first takes the buddy's text when it is a whole number within the range.
void updown_set_position(Window updown, int position);
std::int16_t updown_position(Window updown);

// Drop-down list: -1 means no entry selected.
void list_set_index(Window list, int index);
int list_index(Window list);

}  // namespace sv::ui
