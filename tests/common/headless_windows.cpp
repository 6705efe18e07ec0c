// The native test programs' window layer: no windows. Message boxes and
// beeps are recorded (headless.h), and modal forms run a test's script.
#include <algorithm>
#include <deque>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/text.h"
#include "platform/message_box.h"
#include "tests/common/headless.h"

namespace sv::ui::headless {

namespace {

struct Posted {
  Control* to;
  bool left;  // the focus left the field; else its private message
  std::intptr_t lparam;
};

std::deque<Posted> g_queue;
Control* g_focus = nullptr;
std::vector<Form*> g_modals;  // the innermost last
std::vector<ShownBox> g_boxes;
std::vector<unsigned> g_beeps;
std::vector<Step> g_script;
std::size_t g_next_step = 0;

// Runs a handler as a window procedure would: a failure inside a modal form
// ends it and is rethrown by run_modal; outside one it propagates.
template <class F>
void guarded(F&& f) {
  if (g_modals.empty()) return f();
  try {
    f();
  } catch (...) {
    Form& form = *g_modals.back();
    if (!form.failure) form.failure = std::current_exception();
    form.end(-1);
  }
}

// As on win32, a field hears that the focus left it once the change is
// complete: the focus went to another control of the same form.
void set_focus(Control* to) {
  Control* from = std::exchange(g_focus, to);
  if (from && from != to && from->events && from->parent() == to->parent())
    g_queue.push_back({from, true, 0});
}

void dispatch(const Posted& p) {
  if (EditEvents* events = p.to->events)
    guarded([&] { p.left ? events->exit() : events->posted(p.lparam); });
}

void set_position(Control& up_down, Control& buddy, int position) {
  up_down.position = std::clamp(position, up_down.spec.min, up_down.spec.max);
  const std::string digits = std::to_string(up_down.position);
  buddy.set_text(std::u16string(digits.begin(), digits.end()));
}

void set_index(Control& list, int i) {
  list.index = i >= 0 && i < static_cast<int>(list.spec.items.size()) ? i : -1;
  list.set_text(list.index >= 0 ? list.spec.items[static_cast<std::size_t>(list.index)] : u"");
}

}  // namespace

const std::vector<ShownBox>& boxes() { return g_boxes; }
const std::vector<unsigned>& beeps() { return g_beeps; }

void clear_records() {
  g_boxes.clear();
  g_beeps.clear();
}

void reset() {
  g_queue.clear();
  g_focus = nullptr;
  g_script.clear();
  g_next_step = 0;
  clear_records();
}

Control::Control(Window parent, const ControlSpec& s)
    : spec(s), position(s.position), index(s.index), parent_(parent), text_(s.text) {}

Control::~Control() {
  std::erase_if(g_queue, [&](const Posted& p) { return p.to == this; });
  if (g_focus == this) g_focus = nullptr;
}

void Control::focus() { set_focus(this); }
void Control::post(std::intptr_t lparam) { g_queue.push_back({this, false, lparam}); }

void Control::listen(EditEvents& e, unsigned) { events = &e; }

void pump() {
  while (!g_queue.empty() && !(g_modals.size() && g_modals.back()->result)) {
    Posted p = g_queue.front();
    g_queue.pop_front();
    dispatch(p);
  }
}

Window focused() { return g_focus ? g_focus->handle() : 0; }

void type(Control& edit, std::u16string_view chars) {
  for (char16_t c : chars) {
    if (edit.events) guarded([&] { edit.events->key_press(c); });
    if (c == 0 || edit.read_only()) continue;
    std::u16string text = edit.text();
    if (c != 8) {
      text.push_back(c);
    } else if (!text.empty()) {
      text.pop_back();
    }
    edit.set_text(text);
  }
  pump();
}

void move_focus(Control& to) {
  set_focus(&to);
  pump();
}

void mouse_down(Control& control, MouseButton button) {
  if (control.events) guarded([&] { control.events->mouse_down(button, 4, 4); });
  pump();
}

Form::Form(const FormSpec& spec, Window owner) : spec_(spec), owner_(owner) {
  for (const ControlSpec& c : spec.controls)
    controls_.push_back(std::make_unique<Control>(handle(), c));
  for (const ControlSpec& c : spec.controls) {
    if (c.kind == ControlKind::up_down)
      set_position((*this)[c.id], (*this)[c.buddy_id], c.position);
    if (c.kind == ControlKind::drop_down_list) set_index((*this)[c.id], c.index);
  }
}

Control& Form::operator[](int id) const {
  for (const auto& c : controls_)
    if (c->spec.id == id) return *c;
  throw std::logic_error("headless: the form has no such control");
}

void Form::end(int r) {
  if (!result) result = r;
}

void Form::click(int id) {
  move_focus((*this)[id]);
  // The field that lost the focus may have taken it back; then the button
  // was never pressed.
  if (g_focus == &(*this)[id] && (*this)[id].spec.modal_result) end((*this)[id].spec.modal_result);
}

void Form::press_enter() {
  if (g_focus && g_focus->spec.kind == ControlKind::push_button) {
    if (g_focus->spec.modal_result) end(g_focus->spec.modal_result);
    return;
  }
  if (g_focus && g_focus->events) {
    bool accepted = true;
    guarded([&] { accepted = g_focus->events->accept(); });
    pump();
    if (!accepted) return;
  }
  for (const auto& c : controls_)
    if (c->spec.default_button && c->spec.modal_result) end(c->spec.modal_result);
}

std::int16_t Form::position(int id) {
  Control& up_down = (*this)[id];
  // Whole decimal numbers only.
  const std::u16string text = (*this)[up_down.spec.buddy_id].text();
  const bool decimal = text.find_first_not_of(u"+-0123456789") == std::u16string::npos;
  const auto n = decimal ? parse_int32(text) : std::nullopt;
  if (n && *n >= up_down.spec.min && *n <= up_down.spec.max) up_down.position = *n;
  return static_cast<std::int16_t>(up_down.position);
}

void Form::arrow(int up_down, int steps) {
  Control& u = (*this)[up_down];
  for (; steps != 0; steps -= steps > 0 ? 1 : -1)
    set_position(u, (*this)[u.spec.buddy_id], position(up_down) + (steps > 0 ? 1 : -1));
  pump();
}

void Form::select(int list, int i) {
  set_index((*this)[list], i);
  pump();
}

void set_script(std::vector<Step> steps) {
  g_script = std::move(steps);
  g_next_step = 0;
}

}  // namespace sv::ui::headless

namespace sv::ui {

int run_modal(const FormSpec& spec, Window owner, DialogEvents& events) {
  headless::Form form(spec, owner);
  std::exception_ptr& failure = form.failure;
  headless::g_modals.push_back(&form);
  headless::Control* focus_before = headless::g_focus;
  headless::guarded([&] {
    events.init(form);
    for (const ControlSpec& c : spec.controls) {
      if (c.kind == ControlKind::label || c.kind == ControlKind::group_box) continue;
      headless::set_focus(&form[c.id]);
      break;
    }
  });
  while (!form.result) {
    headless::pump();
    if (form.result) break;
    if (headless::g_next_step == headless::g_script.size()) {
      form.end(-1);
    } else {
      headless::Step step = headless::g_script[headless::g_next_step++];
      headless::guarded([&] { step(form); });
    }
  }
  if (!failure) {
    try {
      events.closing(form, *form.result);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  headless::g_modals.pop_back();
  headless::g_focus = focus_before;
  if (failure) std::rethrow_exception(failure);
  return *form.result;
}

}  // namespace sv::ui

namespace sv::platform {

int message_box(Window owner, std::u16string_view text, std::u16string_view caption,
                unsigned flags) {
  ui::headless::g_boxes.push_back(
      {owner, std::u16string(text), std::u16string(caption), flags, ui::headless::focused()});
  return 1;
}

int application_message_box(Window fallback_owner, std::u16string_view text,
                            std::u16string_view caption, unsigned flags) {
  const auto& modals = ui::headless::g_modals;
  return message_box(modals.empty() ? fallback_owner : modals.back()->handle(), text, caption,
                     flags);
}

void message_beep(unsigned type) { ui::headless::g_beeps.push_back(type); }

}  // namespace sv::platform
