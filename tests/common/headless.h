// The headless window layer of the native test programs: create fields,
// type, move the focus, click, and read the message boxes and beeps that
// were shown (recorded, not displayed).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace sv::ui::headless {

struct ShownBox {
  Window owner;
  std::u16string text;
  std::u16string caption;
  unsigned flags;
  Window focus;  // the focused window when the box came up
};

// Destroys every window and clears the queue and the records.
void reset();
const std::vector<ShownBox>& boxes();
const std::vector<unsigned>& beeps();
void clear_records();

// A top-level form and plain controls on it, for fields tested alone.
Window create_form();
Window create_edit(Window parent, std::u16string_view text = u"");
Window create_button(Window parent, std::u16string_view text = u"");

// Input. Each call ends by dispatching the posted messages, as the
// thread's message loop would.
void type(Window edit, std::u16string_view chars);  // one WM_CHAR per character
void move_focus(Window to);
void mouse_down(Window window, MouseButton button, int x = 4, int y = 4);
void click(Window button);  // focus to the button, then its modal result
void press_enter();  // the focused push button, else the default button if a focused field accepts
void close_box(Window dialog);
void arrow(Window updown, int steps);  // steps > 0: up; stops at the bounds
void select(Window list, int index);
void pump();

// Modal dialogs: whenever the modal loop has nothing to do it runs the next
// step; with none left the dialog ends with -1 (so a test cannot hang).
using Step = std::function<void(Window dialog)>;
void set_script(std::vector<Step> steps);

struct FormInfo {
  std::u16string caption;
  Window owner;
  int client_width, client_height;
  std::u16string font_name;
  int font_points;
};
FormInfo form_info(Window dialog);
// Where the layer placed a control of a modal dialog, in pixels of the
// form's client area, the height of its list items, and whether it is a
// default push button (drawn as the one Enter presses).
struct Placement {
  int left, top, width, height;
  int item_height;
  bool default_button;
};
Placement placement(Window control);
// Tab order of the focusable controls, as control ids.
std::vector<int> tab_order(Window dialog);

}  // namespace sv::ui::headless
