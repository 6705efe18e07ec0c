// The native test programs' window layer: a headless window system. Nothing
// is displayed; message boxes and beeps are recorded (headless.h), and modal
// dialogs are driven by a test script.
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/window.h"
#include "tests/common/headless.h"

namespace sv::ui {
namespace {

enum class Kind { form, push_button, group_box, label, edit, drop_down_list, up_down };

struct Win {
  Kind kind;
  Window parent = 0;
  int id = 0;
  std::u16string text;
  bool read_only = false;
  EditEvents* events = nullptr;
  unsigned private_msg = 0;
  bool default_button = false;
  int modal_result = 0;
  Window buddy = 0;  // up-down
  int min = 0, max = 0, pos = 0;
  std::vector<std::u16string> items;  // drop-down list
  int index = -1;
  // form
  Window owner = 0;
  int client_width = 0, client_height = 0;
  std::u16string font_name;
  int font_points = 0;
  std::vector<Window> tab_order;
  // a control of a modal dialog: what it was laid out from
  std::optional<ControlSpec> spec;
};

struct Posted {
  Window window;
  unsigned message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

// Internal message: the focus has left an edit field for `wparam`.
constexpr unsigned kExitMessage = 0x8001;

struct Modal {
  Window dialog;
  std::optional<int> result;
  std::exception_ptr failure;
};

std::vector<std::unique_ptr<Win>> g_windows;  // handle = index + 1
std::deque<Posted> g_queue;
Window g_focus = 0;
std::vector<Modal*> g_modals;
std::vector<headless::ShownBox> g_boxes;
std::vector<unsigned> g_beeps;
std::vector<headless::Step> g_script;
std::size_t g_next_step = 0;

Win* find(Window w) {
  if (w == 0 || w > g_windows.size()) return nullptr;
  return g_windows[w - 1].get();
}

Win& get(Window w) {
  Win* p = find(w);
  if (!p) throw std::logic_error("headless: no such window");
  return *p;
}

Window create(Kind kind, Window parent) {
  auto w = std::make_unique<Win>();
  w->kind = kind;
  w->parent = parent;
  g_windows.push_back(std::move(w));
  return g_windows.size();
}

Window root(Window w) {
  while (Win* p = find(w)) {
    if (p->parent == 0) return w;
    w = p->parent;
  }
  return 0;
}

void destroy(Window w) {
  for (std::size_t i = 0; i < g_windows.size(); ++i) {
    if (g_windows[i] && g_windows[i]->parent == w) destroy(i + 1);
  }
  if (g_focus == w) g_focus = 0;
  g_windows[w - 1].reset();
}

// Runs a handler as a window procedure would: a failure inside a modal
// dialog ends it and is rethrown by run_modal; outside one it propagates.
template <class F>
void guarded(F&& f) {
  if (g_modals.empty()) {
    f();
    return;
  }
  try {
    f();
  } catch (...) {
    Modal* m = g_modals.back();
    if (!m->failure) m->failure = std::current_exception();
    if (!m->result) m->result = -1;
  }
}

void dispatch(const Posted& p) {
  Win* w = find(p.window);
  if (!w || !w->events) return;
  if (p.message == kExitMessage) {
    guarded([&] { w->events->exit(); });
  } else if (p.message == w->private_msg) {
    guarded([&] { w->events->private_message(p.wparam, p.lparam); });
  }
}

std::optional<int> read_whole_number(std::u16string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  if (i == s.size()) return std::nullopt;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return std::nullopt;
    v = v * 10 + (s[i] - u'0');
    if (v > 0x7FFFFFFF) return std::nullopt;
  }
  return static_cast<int>(negative ? -v : v);
}

std::u16string decimal(int v) {
  std::string a = std::to_string(v);
  return std::u16string(a.begin(), a.end());
}

void end_modal(Window dialog, int result) {
  for (Modal* m : g_modals) {
    if (m->dialog == dialog && !m->result) m->result = result;
  }
}

Kind kind_of(ControlKind k) {
  switch (k) {
    case ControlKind::push_button: return Kind::push_button;
    case ControlKind::group_box: return Kind::group_box;
    case ControlKind::label: return Kind::label;
    case ControlKind::edit: return Kind::edit;
    case ControlKind::drop_down_list: return Kind::drop_down_list;
    case ControlKind::up_down: return Kind::up_down;
  }
  return Kind::label;
}

}  // namespace

int message_box(Window owner, std::u16string_view text, std::u16string_view caption,
                unsigned flags) {
  g_boxes.push_back({owner, std::u16string(text), std::u16string(caption), flags, g_focus});
  return 1;
}

int application_message_box(Window fallback_owner, std::u16string_view text,
                            std::u16string_view caption, unsigned flags) {
  Window owner = g_modals.empty() ? fallback_owner : g_modals.back()->dialog;
  Window focus = g_focus;
  int r = message_box(owner, text, caption, flags);
  g_focus = focus;
  return r;
}

void message_beep(unsigned type) { g_beeps.push_back(type); }

std::u16string window_text(Window w) { return get(w).text; }
void set_window_text(Window w, std::u16string_view text) { get(w).text = text; }
Window parent_window(Window w) { return get(w).parent; }
Window focused_window() { return g_focus; }

void set_focus(Window w) {
  if (w == g_focus) return;
  Window old = g_focus;
  g_focus = w;
  // As on win32 the field hears of it once the change is complete.
  Win* o = find(old);
  if (o && o->events && w != 0 && root(w) == root(old)) {
    g_queue.push_back({old, kExitMessage, w, 0});
  }
}

void post_message(Window w, unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
  g_queue.push_back({w, message, wparam, lparam});
}

bool edit_read_only(Window w) { return get(w).read_only; }
void set_edit_read_only(Window w, bool read_only) { get(w).read_only = read_only; }

void subclass_edit(Window edit, EditEvents* events, unsigned private_message) {
  Win& w = get(edit);
  w.events = events;
  w.private_msg = private_message;
}

void keep_input_method_off(Window) {}

void unsubclass_edit(Window edit) {
  if (Win* w = find(edit)) w->events = nullptr;
}

int run_modal(const FormSpec& form, Window owner, DialogEvents& events) {
  Window dialog = create(Kind::form, 0);
  {
    Win& d = get(dialog);
    d.text = form.caption;
    d.owner = owner;
    d.client_width = form.client_width;
    d.client_height = form.client_height;
    d.font_name = form.font_name;
    d.font_points = form.font_points;
  }
  for (const ControlSpec& c : form.controls) {
    Window h = create(kind_of(c.kind), dialog);
    Win& w = get(h);
    w.spec = c;
    w.id = c.id;
    w.text = c.text;
    w.default_button = c.default_button;
    w.modal_result = c.modal_result;
    w.min = c.min;
    w.max = c.max;
    w.pos = c.position;
    for (auto item : c.items) w.items.emplace_back(item);
    if (c.kind != ControlKind::label && c.kind != ControlKind::group_box)
      get(dialog).tab_order.push_back(h);
  }
  for (const ControlSpec& c : form.controls) {
    if (c.kind == ControlKind::up_down)
      get(dialog_item(dialog, c.id)).buddy = dialog_item(dialog, c.buddy_id);
  }

  Modal modal{dialog, std::nullopt, nullptr};
  g_modals.push_back(&modal);
  Window focus_before = g_focus;
  guarded([&] {
    events.init(dialog);
    if (!get(dialog).tab_order.empty()) set_focus(get(dialog).tab_order.front());
  });
  while (true) {
    while (!g_queue.empty() && !modal.result) {
      Posted p = g_queue.front();
      g_queue.pop_front();
      dispatch(p);
    }
    if (modal.result) break;
    if (g_next_step < g_script.size()) {
      auto step = g_script[g_next_step++];
      guarded([&] { step(dialog); });
      continue;
    }
    modal.result = -1;
  }
  if (!modal.failure) {
    try {
      events.closing(dialog, *modal.result);
    } catch (...) {
      modal.failure = std::current_exception();
    }
  }
  g_modals.pop_back();
  // What the dialog still had in the queue dies with its windows.
  std::erase_if(g_queue, [&](const Posted& p) { return root(p.window) == dialog; });
  destroy(dialog);
  g_focus = find(focus_before) ? focus_before : 0;
  if (modal.failure) std::rethrow_exception(modal.failure);
  return *modal.result;
}

Window dialog_item(Window dialog, int id) {
  for (std::size_t i = 0; i < g_windows.size(); ++i) {
    if (g_windows[i] && g_windows[i]->parent == dialog && g_windows[i]->id == id) return i + 1;
  }
  return 0;
}

void updown_set_position(Window updown, int position) {
  Win& u = get(updown);
  u.pos = position < u.min ? u.min : position > u.max ? u.max : position;
  if (u.buddy) get(u.buddy).text = decimal(u.pos);
}

std::int16_t updown_position(Window updown) {
  Win& u = get(updown);
  if (u.buddy) {
    auto v = read_whole_number(get(u.buddy).text);
    if (v && *v >= u.min && *v <= u.max) u.pos = *v;
  }
  return static_cast<std::int16_t>(u.pos);
}

void list_set_index(Window list, int index) {
  Win& l = get(list);
  l.index = index >= 0 && index < static_cast<int>(l.items.size()) ? index : -1;
  l.text = l.index >= 0 ? l.items[static_cast<std::size_t>(l.index)] : u"";
}

int list_index(Window list) { return get(list).index; }

namespace headless {

void reset() {
  g_windows.clear();
  g_queue.clear();
  g_focus = 0;
  g_script.clear();
  g_next_step = 0;
  clear_records();
}

const std::vector<ShownBox>& boxes() { return g_boxes; }
const std::vector<unsigned>& beeps() { return g_beeps; }

void clear_records() {
  g_boxes.clear();
  g_beeps.clear();
}

Window create_form() { return create(Kind::form, 0); }

Window create_edit(Window parent, std::u16string_view text) {
  Window w = create(Kind::edit, parent);
  get(w).text = text;
  return w;
}

Window create_button(Window parent, std::u16string_view text) {
  Window w = create(Kind::push_button, parent);
  get(w).text = text;
  return w;
}

void pump() {
  while (!g_queue.empty()) {
    Posted p = g_queue.front();
    g_queue.pop_front();
    dispatch(p);
  }
}

void type(Window edit, std::u16string_view chars) {
  for (char16_t c : chars) {
    Win& w = get(edit);
    bool keep = true;
    if (w.events) {
      guarded([&] {
        w.events->key_press(c);
        keep = c != 0;
      });
    }
    if (!keep) continue;
    Win& after = get(edit);
    if (after.read_only) continue;
    if (c == 8) {
      if (!after.text.empty()) after.text.pop_back();
    } else {
      after.text.push_back(c);
    }
  }
  pump();
}

void move_focus(Window to) {
  set_focus(to);
  pump();
}

void mouse_down(Window window, MouseButton button, int x, int y) {
  Win& w = get(window);
  if (w.events) guarded([&] { w.events->mouse_down(button, x, y); });
  pump();
}

void click(Window button) {
  set_focus(button);
  pump();
  // The field that lost the focus may have taken it back; then the button
  // was never pressed.
  if (g_focus != button) return;
  Win& b = get(button);
  if (b.modal_result != 0) end_modal(root(button), b.modal_result);
}

void press_enter() {
  Win* f = find(g_focus);
  if (f && f->kind == Kind::push_button) {
    if (f->modal_result != 0) end_modal(root(g_focus), f->modal_result);
    return;
  }
  if (g_modals.empty()) return;
  if (f && f->events) {
    bool accepted = true;
    guarded([&] { accepted = f->events->accept(); });
    pump();
    if (!accepted) return;
  }
  Window dialog = g_modals.back()->dialog;
  for (Window c : get(dialog).tab_order) {
    Win& w = get(c);
    if (w.default_button && w.modal_result != 0) end_modal(dialog, w.modal_result);
  }
}

void close_box(Window dialog) { end_modal(dialog, 2); }

void arrow(Window updown, int steps) {
  for (; steps != 0; steps += steps > 0 ? -1 : 1) {
    int pos = updown_position(updown);
    updown_set_position(updown, pos + (steps > 0 ? 1 : -1));
  }
  pump();
}

void select(Window list, int index) {
  list_set_index(list, index);
  pump();
}

void set_script(std::vector<Step> steps) {
  g_script = std::move(steps);
  g_next_step = 0;
}

FormInfo form_info(Window dialog) {
  Win& d = get(dialog);
  return {d.text, d.owner, d.client_width, d.client_height, d.font_name, d.font_points};
}

Placement placement(Window control) {
  // Only a control of a modal dialog has its spec; value() throws for others.
  const ControlSpec& c = get(control).spec.value();
  return {c.left, c.top, c.width, c.height, c.item_height, c.default_button};
}

std::vector<int> tab_order(Window dialog) {
  std::vector<int> ids;
  for (Window c : get(dialog).tab_order) ids.push_back(get(c).id);
  return ids;
}

}  // namespace headless
}  // namespace sv::ui
