#include <algorithm>
#include <span>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "base/owner_window.h"
#include "base/text.h"
#include "dialog/UDPSV2SimulinkDlg.h"
#include "dialog/UDPSV2SimulinkForm.h"
#include "tests/common/headless.h"
#include "tests/support/string_lib.h"

namespace {

namespace hl = sv::ui::headless;
using sv::ui::Window;

Window item(Window dialog, int id) { return sv::ui::dialog_item(dialog, id); }

// Replaces a field's text as a user does: focus, select all, type.
void retype(Window dialog, int id, std::u16string_view text) {
  Window w = item(dialog, id);
  hl::move_focus(w);
  sv::ui::set_window_text(w, u"");
  hl::type(w, text);
}

class ParameterDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    svtest::use_string_lib("");
    hl::reset();
    data = sv::TUserData{};
  }
  void TearDown() override {
    hl::reset();
    sv::set_owner_window(0);
  }

  void run(std::vector<hl::Step> steps) {
    hl::set_script(std::move(steps));
    sv::run_parameter_dialog(data, &byte);
  }

  sv::TUserData data;
  std::uint8_t byte = 0xEE;
};

TEST_F(ParameterDialog, OpensAsDescribedWithTheFocusOnOK) {
  sv::set_owner_window(0x777);
  data.Port = 1600;
  data.Inputs = 3;
  data.DataType = 2;
  run({[&](Window d) {
    auto info = hl::form_info(d);
    EXPECT_EQ(info.caption, u"UDP SV2Simulink");
    EXPECT_EQ(info.owner, 0x777u);
    EXPECT_EQ(info.client_width, 457);
    EXPECT_EQ(info.client_height, 202);
    EXPECT_EQ(info.font_name, u"MS Sans Serif");
    EXPECT_EQ(info.font_points, 8);
    EXPECT_EQ(hl::tab_order(d),
              (std::vector<int>{sv::kOKButton, sv::kCancelButton, sv::kIPEdit, sv::kPortEdit,
                                sv::kDataTypeCB, sv::kIntegerEdit1, sv::kUpDown2}));
    EXPECT_EQ(sv::ui::focused_window(), item(d, sv::kOKButton));
    EXPECT_EQ(sv::ui::window_text(item(d, sv::kIPEdit)), u"127.0.0.1");
    EXPECT_EQ(sv::ui::window_text(item(d, sv::kPortEdit)), u"1600");
    EXPECT_EQ(sv::ui::window_text(item(d, sv::kIntegerEdit1)), u"3");
    EXPECT_EQ(sv::ui::list_index(item(d, sv::kDataTypeCB)), 2);
    hl::press_enter();
  }});
  EXPECT_EQ(data.IPAddress, u"127.0.0.1");
  EXPECT_EQ(data.Port, 1600);
  EXPECT_EQ(data.Inputs, 3);
  EXPECT_EQ(data.DataType, 2);
  EXPECT_EQ(byte, 3);
}

// The layout table of the form: pixels at 96 dpi, the controls of a group
// box relative to the box, as the form description gives them.
TEST_F(ParameterDialog, ControlsSitWhereTheLayoutTablePutsThem) {
  struct Box {
    int left, top;
  };
  constexpr Box kForm{0, 0}, kParameters{12, 84}, kInputs{12, 16};
  const struct {
    int id;
    Box parent;
    int left, top, width, height;
    const char16_t* text;
  } kLayout[] = {
      {sv::kOKButton, kForm, 372, 24, 75, 23, u"OK"},
      {sv::kCancelButton, kForm, 372, 56, 75, 23, u"Cancel"},
      {sv::kGroupBox1, kForm, 12, 84, 341, 109, u" Parameters "},
      {sv::kLabel1, kParameters, 24, 32, 54, 13, u"IP Address:"},
      {sv::kIPEdit, kParameters, 96, 28, 121, 21, nullptr},
      {sv::kLabel2, kParameters, 240, 32, 22, 13, u"Port:"},
      {sv::kPortEdit, kParameters, 272, 28, 61, 21, nullptr},
      {sv::kLabel4, kParameters, 24, 76, 49, 13, u"Data type:"},
      {sv::kDataTypeCB, kParameters, 96, 72, 121, 21, u"double"},
      {sv::kGroupBox2, kForm, 12, 16, 341, 57, u" Inputs "},
      {sv::kLabel3, kInputs, 24, 24, 32, 13, u"Inputs:"},
      {sv::kIntegerEdit1, kInputs, 72, 20, 41, 21, nullptr},
      {sv::kUpDown2, kInputs, 113, 20, 16, 21, nullptr},
  };
  run({[&](Window d) {
    std::vector<Window> seen;
    for (const auto& c : kLayout) {
      const Window w = item(d, c.id);
      ASSERT_NE(w, 0u) << "no control " << c.id;
      seen.push_back(w);
      const hl::Placement p = hl::placement(w);
      EXPECT_EQ(p.left, c.parent.left + c.left) << "left of control " << c.id;
      EXPECT_EQ(p.top, c.parent.top + c.top) << "top of control " << c.id;
      EXPECT_EQ(p.width, c.width) << "width of control " << c.id;
      EXPECT_EQ(p.height, c.height) << "height of control " << c.id;
      EXPECT_EQ(p.default_button, c.id == sv::kOKButton) << "default button: control " << c.id;
      if (c.text) {
        EXPECT_EQ(sv::ui::window_text(w), c.text) << "text of control " << c.id;
      }
    }
    // Thirteen different controls, and no id is the Escape key's (2).
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(item(d, 2), 0u);
    const Window list = item(d, sv::kDataTypeCB);
    EXPECT_EQ(hl::placement(list).item_height, 13);
    const char16_t* kItems[] = {u"double", u"single", u"int32", u"boolean"};
    for (int i = 0; i < 4; ++i) {
      hl::select(list, i);
      EXPECT_EQ(sv::ui::window_text(list), kItems[i]) << "item " << i;
    }
    hl::click(item(d, sv::kCancelButton));
  }});
}

// The two integer fields with the form's properties, as the range help on
// a right click and the key filter show them.
TEST_F(ParameterDialog, TheIntegerFieldsCarryTheFormsProperties) {
  run({[&](Window d) {
    hl::mouse_down(item(d, sv::kIntegerEdit1), sv::ui::MouseButton::right);
    hl::mouse_down(item(d, sv::kPortEdit), sv::ui::MouseButton::right);
    hl::type(item(d, sv::kIntegerEdit1), u"a");
    hl::type(item(d, sv::kPortEdit), u"b");
    hl::click(item(d, sv::kCancelButton));
  }});
  ASSERT_EQ(hl::boxes().size(), 2u);
  // A range of 1 to 50 with zero allowed: no note about 0.
  EXPECT_EQ(hl::boxes()[0].text, u"Zulässiger Wertebereich:\n\rvon: 1\n\rbis: 50");
  EXPECT_EQ(hl::boxes()[1].text, u"Zulässiger Wertebereich:\n\rkeine Einschränkungen");
  EXPECT_EQ(hl::beeps().size(), 2u) << "each field beeps at a refused key";
}

TEST_F(ParameterDialog, CancelAndTheCloseBoxStoreNothing) {
  auto edit_everything = [&](Window d) {
    sv::ui::set_window_text(item(d, sv::kIPEdit), u"10.0.0.9");
    retype(d, sv::kPortEdit, u"99");
    hl::arrow(item(d, sv::kUpDown2), 4);
    hl::select(item(d, sv::kDataTypeCB), 3);
  };
  run({edit_everything, [&](Window d) { hl::click(item(d, sv::kCancelButton)); }});
  run({edit_everything, [&](Window d) { hl::close_box(d); }});
  EXPECT_EQ(data.IPAddress, u"127.0.0.1");
  EXPECT_EQ(data.Port, 1600);
  EXPECT_EQ(data.Inputs, 1);
  EXPECT_EQ(data.DataType, 0);
  EXPECT_EQ(byte, 0xEE);
}

TEST_F(ParameterDialog, OKStoresWhatWasEntered) {
  run({[&](Window d) {
         sv::ui::set_window_text(item(d, sv::kIPEdit), u"");
         retype(d, sv::kPortEdit, u"-1");
         hl::arrow(item(d, sv::kUpDown2), 6);
         hl::select(item(d, sv::kDataTypeCB), 1);
       },
       [&](Window d) { hl::click(item(d, sv::kOKButton)); }});
  EXPECT_EQ(data.IPAddress, u"");
  EXPECT_EQ(data.Port, -1);
  EXPECT_EQ(data.Inputs, 7);
  EXPECT_EQ(byte, 7);
  EXPECT_EQ(data.DataType, 1);
  EXPECT_TRUE(hl::boxes().empty());
}

TEST_F(ParameterDialog, ThePortHasNoRange) {
  for (const auto& entry : {std::pair{u"0", 0}, {u"-1", -1}, {u"70000", 70000}}) {
    run({[&](Window d) {
      retype(d, sv::kPortEdit, entry.first);
      hl::click(item(d, sv::kOKButton));
    }});
    EXPECT_EQ(data.Port, entry.second);
  }
  EXPECT_TRUE(hl::boxes().empty());
}

TEST_F(ParameterDialog, TheArrowsStopAtOneAndFifty) {
  data.Inputs = 48;
  run({[&](Window d) {
    hl::arrow(item(d, sv::kUpDown2), 5);
    EXPECT_EQ(sv::ui::window_text(item(d, sv::kIntegerEdit1)), u"50");
    hl::press_enter();
  }});
  EXPECT_EQ(data.Inputs, 50);
  EXPECT_EQ(byte, 50);
  run({[&](Window d) {
    hl::arrow(item(d, sv::kUpDown2), -60);
    hl::press_enter();
  }});
  EXPECT_EQ(data.Inputs, 1);
  EXPECT_EQ(byte, 1);
}

// Enter checks the focused field first: an error keeps the dialog open and
// returns the field to the block's number, as leaving the field does; a
// good entry is what OK stores.
TEST_F(ParameterDialog, EnterChecksTheFieldAndAnErrorReturnsToTheStoredNumber) {
  data.Inputs = 8;
  run({[&](Window d) {
         retype(d, sv::kIntegerEdit1, u"60");
         hl::press_enter();
       },
       [&](Window d) {
         const Window field = item(d, sv::kIntegerEdit1);
         EXPECT_EQ(sv::ui::window_text(field), u"8");
         EXPECT_EQ(sv::ui::focused_window(), field);
         retype(d, sv::kIntegerEdit1, u"60");
         hl::move_focus(item(d, sv::kPortEdit));
         EXPECT_EQ(sv::ui::window_text(field), u"8");
         retype(d, sv::kIntegerEdit1, u"7");
         hl::press_enter();
       }});
  ASSERT_EQ(hl::boxes().size(), 2u);
  EXPECT_EQ(hl::boxes()[0].text, u"Zahlenwert zu groß");
  EXPECT_EQ(hl::boxes()[1].text, u"Zahlenwert zu groß");
  EXPECT_EQ(data.Inputs, 7);
  EXPECT_EQ(byte, 7);
}

TEST_F(ParameterDialog, ClickingOKAfterABadEntryKeepsTheDialogOpen) {
  run({[&](Window d) {
         retype(d, sv::kPortEdit, u"-");
         hl::click(item(d, sv::kOKButton));
       },
       [&](Window d) {
         EXPECT_EQ(sv::ui::window_text(item(d, sv::kPortEdit)), u"1600");
         hl::click(item(d, sv::kOKButton));
       }});
  ASSERT_EQ(hl::boxes().size(), 1u);
  EXPECT_EQ(hl::boxes()[0].text, u"Falsches Zahlenformat");
  EXPECT_EQ(data.Port, 1600);
}

TEST_F(ParameterDialog, ErrorBoxFromTheLibraryIsOwnedByTheDialog) {
  svtest::use_string_lib("full");
  Window dialog = 0;
  run({[&](Window d) {
         dialog = d;
         retype(d, sv::kIntegerEdit1, u"0");
         hl::move_focus(item(d, sv::kOKButton));
       },
       [&](Window d) { hl::press_enter(); }});
  ASSERT_EQ(hl::boxes().size(), 1u);
  EXPECT_EQ(hl::boxes()[0].text, u"Number too small");
  EXPECT_EQ(hl::boxes()[0].caption, u"Error");
  EXPECT_EQ(hl::boxes()[0].owner, dialog);
  svtest::use_string_lib("");
}

TEST_F(ParameterDialog, ADataTypeOutsideTheListSelectsNothingAndStoresMinusOne) {
  data.DataType = 7;
  run({[&](Window d) {
    EXPECT_EQ(sv::ui::list_index(item(d, sv::kDataTypeCB)), -1);
    hl::press_enter();
  }});
  EXPECT_EQ(data.DataType, -1);
}

TEST_F(ParameterDialog, InputsOutsideTheRangeShowTheNearerBound) {
  struct {
    std::int32_t stored;
    const char16_t* shown;
  } cases[] = {{0, u"1"}, {-4, u"1"}, {80, u"50"}, {65536, u"1"}, {65536 + 7, u"7"}, {40000, u"1"}};
  for (const auto& c : cases) {
    data.Inputs = c.stored;
    run({[&](Window d) {
      EXPECT_EQ(sv::ui::window_text(item(d, sv::kIntegerEdit1)), c.shown) << c.stored;
      hl::click(item(d, sv::kCancelButton));
    }});
    EXPECT_EQ(data.Inputs, c.stored);
    run({[&](Window d) { hl::press_enter(); }});
    EXPECT_EQ(std::u16string(c.shown), sv::int_to_u16(data.Inputs));
    EXPECT_EQ(byte, static_cast<std::uint8_t>(data.Inputs));
  }
}

TEST_F(ParameterDialog, ADialogThatCannotBeShownStoresNothing) {
  data.Port = 5;
  hl::set_script({});
  sv::run_parameter_dialog(data, &byte);
  EXPECT_EQ(data.Port, 5);
  EXPECT_EQ(byte, 0xEE);
}

}  // namespace

// The window layer's promise under every dialog: an exception from an event
// ends the dialog, which is gone when the exception arrives at the caller.
namespace window_layer {

struct ThrowingEvents : sv::ui::DialogEvents {
  int closings = 0;
  void init(Window) override {}
  void closing(Window, int) override { ++closings; }
};

using sv::ui::ControlKind;
using sv::ui::ControlSpec;

constexpr ControlSpec button(int id, std::u16string_view text, int left, int result,
                             bool is_default = false) {
  return {.id = id,
          .kind = ControlKind::push_button,
          .text = text,
          .left = left,
          .top = 30,
          .width = 75,
          .height = 23,
          .default_button = is_default,
          .modal_result = result};
}

sv::ui::FormSpec form_of(std::span<const ControlSpec> controls) {
  return {.caption = u"t",
          .client_width = 240,
          .client_height = 60,
          .font_name = u"MS Sans Serif",
          .font_points = 8,
          .controls = controls};
}

TEST(HeadlessWindows, AnExceptionEndsTheDialogAndLeavesRunModalAfterTheDialogIsGone) {
  hl::reset();
  static constexpr ControlSpec kControls[] = {button(1, u"OK", 0, 1)};
  Window shown = 0;
  hl::set_script({[&](Window d) {
                    shown = d;
                    throw std::runtime_error("first");
                  },
                  [](Window) { ADD_FAILURE() << "the dialog went on after an exception"; }});
  ThrowingEvents events;
  try {
    sv::ui::run_modal(form_of(kControls), 0, events);
    ADD_FAILURE() << "run_modal returned instead of rethrowing";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "first");
  }
  EXPECT_EQ(events.closings, 0) << "a failed dialog still reported its closing";
  ASSERT_NE(shown, 0u);
  EXPECT_EQ(sv::ui::dialog_item(shown, 1), 0u) << "the dialog's OK button outlived it";
  hl::reset();
}

// Enter in a field presses the default button, wherever it stands in the
// tab order; a button without a result beside it changes nothing.
TEST(HeadlessWindows, EnterInAFieldPressesTheDefaultButtonWhereverItStands) {
  hl::reset();
  static constexpr ControlSpec kControls[] = {{.id = 5,
                                               .kind = ControlKind::edit,
                                               .text = u"",
                                               .left = 0,
                                               .top = 0,
                                               .width = 50,
                                               .height = 21},
                                              button(6, u"Help", 0, 0),
                                              button(7, u"Cancel", 80, 2),
                                              button(8, u"OK", 160, 1, true)};
  hl::set_script({[](Window d) {
    hl::move_focus(sv::ui::dialog_item(d, 5));
    hl::press_enter();
  }});
  ThrowingEvents events;
  EXPECT_EQ(sv::ui::run_modal(form_of(kControls), 0, events), 1);
  EXPECT_EQ(events.closings, 1);
  hl::reset();
}

}  // namespace window_layer
