// The dialog's window layer: a form described by data, shown modally, and
// its edit fields as the logic behind them sees them. On win32 these are
// real windows (win32/window.cpp); the native build has none
// (posix/no_windows.cpp), and its tests link a headless stand-in
// (tests/common/headless.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/message_box.h"

namespace sv::ui {

using platform::Window;

// A form described by data. Positions are pixels at 96 dpi relative to the
// form's client area, scaled with the font to the DPI the form is shown at;
// the order of the controls is the tab order. Each control opens showing
// the values given here.
enum class ControlKind { push_button, group_box, label, edit, drop_down_list, up_down };

struct ControlSpec {
  int id;
  ControlKind kind;
  std::u16string_view text;
  int left, top, width, height;
  bool default_button = false;  // Enter presses it
  int modal_result = 0;         // of a push button; 0 = none
  int buddy_id = 0;             // up-down: its associated edit
  // Up-down: the position, within min to max, is written into the buddy as
  // plain decimal.
  int min = 0, max = 0, position = 0;
  std::span<const std::u16string_view> items = {};  // drop-down list
  int item_height = 0;
  int index = -1;  // drop-down list: the item selected, -1 none
};

struct FormSpec {
  std::u16string_view caption;
  int client_width, client_height;
  std::u16string_view font_name;
  int font_points;
  std::span<const ControlSpec> controls;
};

enum class MouseButton { left, right, middle };

// What an edit field reports to the logic behind it. The layer lets no
// exception escape: one that is thrown ends the modal form, and run_modal
// rethrows it once the form is gone.
class EditEvents {
 public:
  // Every typed character; setting ch to 0 drops it.
  virtual void key_press(char16_t& ch) = 0;
  // The focus has gone to another control of the same form.
  virtual void exit() = 0;
  virtual void mouse_down(MouseButton button, int x, int y) = 0;
  // The field's private message, which it posted itself (EditWindow::post).
  virtual void posted(std::intptr_t lparam) = 0;
  // Enter is about to press the form's default button while the field has
  // the focus; false keeps the form open.
  virtual bool accept() = 0;

 protected:
  ~EditEvents() = default;
};

// An edit field of a shown form, alive as long as the form's windows.
class EditWindow {
 public:
  virtual std::u16string text() const = 0;
  virtual void set_text(std::u16string_view text) = 0;
  virtual bool read_only() const = 0;
  virtual void set_read_only(bool read_only) = 0;
  virtual void focus() = 0;
  // Posts the field its private message with lparam (wParam 0); it reaches
  // EditEvents::posted after what the thread's queue already holds.
  virtual void post(std::intptr_t lparam) = 0;
  // The window the field sits on: the owner of message boxes about it.
  virtual Window parent() const = 0;
  // From now on the field reports to events, which must outlive the form.
  // It then takes keys as typed: no input method composes text in it (an
  // East Asian one would compose full-width digits).
  virtual void listen(EditEvents& events, unsigned private_message) = 0;

 protected:
  ~EditWindow() = default;
};

// A form while it is shown: what its logic reads and reaches of its controls.
class Form {
 public:
  virtual EditWindow& edit(int id) = 0;
  // An up-down's position, a signed 16-bit number: its buddy's text when
  // that is a whole number within the range, else the position it had.
  virtual std::int16_t position(int id) = 0;
  // A drop-down list's selected item, -1 for none.
  virtual int index(int id) const = 0;

 protected:
  ~Form() = default;
};

class DialogEvents {
 public:
  // The controls exist with the form's values and nothing is shown yet.
  virtual void init(Form& form) = 0;
  // The modal result is set; the controls still exist.
  virtual void closing(Form& form, int modal_result) = 0;

 protected:
  ~DialogEvents() = default;
};

// run_modal's result when the system lacks a kind of control of the form
// (the up-down is a common control).
inline constexpr int kControlsMissing = -2;

// Shows the form modally, on top, centred on its owner's monitor, owned by
// owner (0: none), with the focus on the first control of the tab order;
// the thread's other top-level windows are disabled meanwhile. The close
// box gives 2; Escape presses nothing; the default button acts only once a
// focused edit field accepts. Returns the modal result, -1 when the form
// cannot be shown, or kControlsMissing. An exception from the events ends
// the form and is rethrown here once it is gone.
int run_modal(const FormSpec& form, Window owner, DialogEvents& events);

}  // namespace sv::ui
