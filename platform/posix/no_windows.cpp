// The native build's window layer. Linux has no parameter dialog: every
// entry fails with the text that says where it is. Tests link a headless
// window system in its place (tests/common/headless.h).
#include "base/errors.h"
#include "platform/window.h"

namespace sv::ui {
namespace {

[[noreturn]] void no_windows() {
  throw Error(
      u"The parameter dialog needs the Windows build of the block (UDPSV2Simulink.dll); on "
      u"Linux, give a block its settings with svhost new (--host, --port, --inputs, --type).");
}

}  // namespace

int message_box(Window, std::u16string_view, std::u16string_view, unsigned) { no_windows(); }
int application_message_box(Window, std::u16string_view, std::u16string_view, unsigned) {
  no_windows();
}
void message_beep(unsigned) { no_windows(); }
std::u16string window_text(Window) { no_windows(); }
void set_window_text(Window, std::u16string_view) { no_windows(); }
Window parent_window(Window) { no_windows(); }
void set_focus(Window) { no_windows(); }
Window focused_window() { no_windows(); }
void post_message(Window, unsigned, std::uintptr_t, std::intptr_t) { no_windows(); }
bool edit_read_only(Window) { no_windows(); }
void set_edit_read_only(Window, bool) { no_windows(); }
void subclass_edit(Window, EditEvents*, unsigned) { no_windows(); }
void unsubclass_edit(Window) { no_windows(); }
void keep_input_method_off(Window) { no_windows(); }
int run_modal(const FormSpec&, Window, DialogEvents&) { no_windows(); }
Window dialog_item(Window, int) { no_windows(); }
void updown_set_position(Window, int) { no_windows(); }
std::int16_t updown_position(Window) { no_windows(); }
void list_set_index(Window, int) { no_windows(); }
int list_index(Window) { no_windows(); }

}  // namespace sv::ui
