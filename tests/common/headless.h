// The headless window layer of the native test programs: forms and edit
// fields as plain objects that tests type into and click in, and the
// message boxes and beeps that were shown (recorded, not displayed). It
// keeps the real layer's promises (dialog/window.h) and no more: the
// windows themselves are tested under Wine (tests/dialog/wine).
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog/window.h"

namespace sv::ui::headless {

struct ShownBox {
  Window owner;
  std::u16string text;
  std::u16string caption;
  unsigned flags;
  Window focus;  // the focused control when the box came up
};

const std::vector<ShownBox>& boxes();
const std::vector<unsigned>& beeps();
void clear_records();

// A field on its own, outside any form's description.
inline constexpr ControlSpec kField{
    .id = 0, .kind = ControlKind::edit, .text = u"", .left = 0, .top = 0, .width = 0, .height = 0};

// A control: its text and, as an edit field, its state and the logic that
// listens to it. Its handle is its address.
class Control final : public EditWindow {
 public:
  explicit Control(Window parent = 0, const ControlSpec& spec = kField);
  ~Control();  // what was posted to it goes, and so does the focus
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Window handle() const { return reinterpret_cast<Window>(this); }
  const ControlSpec spec;  // as the form gave it
  int position, index;     // of an up-down, of a list

  std::u16string text() const override { return text_; }
  void set_text(std::u16string_view text) override { text_ = text; }
  bool read_only() const override { return read_only_; }
  void set_read_only(bool read_only) override { read_only_ = read_only; }
  void focus() override;
  void post(std::intptr_t lparam) override;
  Window parent() const override { return parent_; }
  void listen(EditEvents& events, unsigned private_message) override;
  EditEvents* events = nullptr;  // what listens, if anything

 private:
  const Window parent_;
  std::u16string text_;
  bool read_only_ = false;
};

// A user's input. Each call ends by handling what was posted, as the
// thread's message loop would.
void type(Control& edit, std::u16string_view chars);  // one character each; 8 takes one back
void move_focus(Control& to);  // a field left for another control of its form hears of it
void mouse_down(Control& control, MouseButton button);
void pump();
Window focused();  // the focused control's handle, 0 for none

// A form that run_modal shows, as its script's steps see it.
class Form final : public ui::Form {
 public:
  Form(const FormSpec& spec, Window owner);
  Window handle() const { return reinterpret_cast<Window>(this); }
  Window owner() const { return owner_; }
  const FormSpec& spec() const { return spec_; }
  Control& operator[](int id) const;

  void click(int id);  // the focus to the button, then its modal result
  void press_enter();  // the focused button, else the default one if a focused field accepts
  void close_box() { end(2); }
  void arrow(int up_down, int steps);  // steps > 0: up; stops at the bounds
  void select(int list, int index);

  EditWindow& edit(int id) override { return (*this)[id]; }
  std::int16_t position(int id) override;
  int index(int id) const override { return (*this)[id].index; }

  void end(int result);
  std::optional<int> result;
  std::exception_ptr failure;  // ends the form, and leaves run_modal

 private:
  const FormSpec spec_;
  const Window owner_;
  std::vector<std::unique_ptr<Control>> controls_;
};

// Modal forms: whenever the modal loop has nothing to do it runs the next
// step; with none left the form ends with -1 (so a test cannot hang).
using Step = std::function<void(Form&)>;
void set_script(std::vector<Step> steps);

// Clears the queue, the focus, the script and the records.
void reset();

}  // namespace sv::ui::headless
