#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "base/owner_window.h"
#include "base/text.h"
#include "dialog/UDPSV2SimulinkDlg.h"
#include "dialog/UDPSV2SimulinkForm.h"
#include "tests/common/headless.h"
#include "tests/common/texts.h"
#include "tests/support/string_lib.h"

namespace {

namespace hl = sv::ui::headless;
using Form = hl::Form;

// Replaces a field's text as a user does: focus, select all, type.
void retype(Form& dialog, int id, std::u16string_view text) {
  hl::move_focus(dialog[id]);
  dialog[id].set_text(u"");
  hl::type(dialog[id], text);
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
  run({[&](Form& d) {
    const sv::ui::FormSpec& form = d.spec();
    EXPECT_EQ(form.caption, u"UDP SV2Simulink");
    EXPECT_EQ(d.owner(), 0x777u);
    EXPECT_EQ(form.client_width, 457);
    EXPECT_EQ(form.client_height, 202);
    EXPECT_EQ(form.font_name, u"MS Sans Serif");
    EXPECT_EQ(form.font_points, 8);
    std::vector<int> tab_order;
    for (const sv::ui::ControlSpec& c : form.controls) {
      if (c.kind != sv::ui::ControlKind::label && c.kind != sv::ui::ControlKind::group_box)
        tab_order.push_back(c.id);
    }
    EXPECT_EQ(tab_order,
              (std::vector<int>{sv::kOKButton, sv::kCancelButton, sv::kIPEdit, sv::kPortEdit,
                                sv::kDataTypeCB, sv::kIntegerEdit1, sv::kUpDown2}));
    EXPECT_EQ(hl::focused(), d[sv::kOKButton].handle());
    EXPECT_EQ(d[sv::kIPEdit].text(), u"127.0.0.1");
    EXPECT_EQ(d[sv::kPortEdit].text(), u"1600");
    EXPECT_EQ(d[sv::kIntegerEdit1].text(), u"3");
    EXPECT_EQ(d.index(sv::kDataTypeCB), 2);
    d.press_enter();
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
  run({[&](Form& d) {
    std::vector<int> ids;
    for (const sv::ui::ControlSpec& c : d.spec().controls) ids.push_back(c.id);
    for (const auto& c : kLayout) {
      const sv::ui::ControlSpec& p = d[c.id].spec;
      EXPECT_EQ(p.left, c.parent.left + c.left) << "left of control " << c.id;
      EXPECT_EQ(p.top, c.parent.top + c.top) << "top of control " << c.id;
      EXPECT_EQ(p.width, c.width) << "width of control " << c.id;
      EXPECT_EQ(p.height, c.height) << "height of control " << c.id;
      EXPECT_EQ(p.default_button, c.id == sv::kOKButton) << "default button: control " << c.id;
      if (c.text) {
        EXPECT_EQ(d[c.id].text(), c.text) << "text of control " << c.id;
      }
    }
    // Thirteen different controls, and no id is the Escape key's (2).
    EXPECT_EQ(ids.size(), std::size(kLayout));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
    EXPECT_FALSE(std::binary_search(ids.begin(), ids.end(), 2));
    EXPECT_EQ(d[sv::kDataTypeCB].spec.item_height, 13);
    const char16_t* kItems[] = {u"double", u"single", u"int32", u"boolean"};
    for (int i = 0; i < 4; ++i) {
      d.select(sv::kDataTypeCB, i);
      EXPECT_EQ(d[sv::kDataTypeCB].text(), kItems[i]) << "item " << i;
    }
    d.click(sv::kCancelButton);
  }});
}

// The two integer fields with the form's properties, as the range help on
// a right click and the key filter show them.
TEST_F(ParameterDialog, TheIntegerFieldsCarryTheFormsProperties) {
  run({[&](Form& d) {
    hl::mouse_down(d[sv::kIntegerEdit1], sv::ui::MouseButton::right);
    hl::mouse_down(d[sv::kPortEdit], sv::ui::MouseButton::right);
    hl::type(d[sv::kIntegerEdit1], u"a");
    hl::type(d[sv::kPortEdit], u"b");
    d.click(sv::kCancelButton);
  }});
  ASSERT_EQ(hl::boxes().size(), 2u);
  // A range of 1 to 50 with zero allowed: no note about 0.
  EXPECT_EQ(hl::boxes()[0].text, svtest::kInputsRange);
  EXPECT_EQ(hl::boxes()[1].text, u"Zulässiger Wertebereich:\n\rkeine Einschränkungen");
  EXPECT_EQ(hl::beeps().size(), 2u) << "each field beeps at a refused key";
}

TEST_F(ParameterDialog, CancelAndTheCloseBoxStoreNothing) {
  auto edit_everything = [&](Form& d) {
    d[sv::kIPEdit].set_text(u"10.0.0.9");
    retype(d, sv::kPortEdit, u"99");
    d.arrow(sv::kUpDown2, 4);
    d.select(sv::kDataTypeCB, 3);
  };
  run({edit_everything, [&](Form& d) { d.click(sv::kCancelButton); }});
  run({edit_everything, [&](Form& d) { d.close_box(); }});
  EXPECT_EQ(data.IPAddress, u"127.0.0.1");
  EXPECT_EQ(data.Port, 1600);
  EXPECT_EQ(data.Inputs, 1);
  EXPECT_EQ(data.DataType, 0);
  EXPECT_EQ(byte, 0xEE);
}

TEST_F(ParameterDialog, OKStoresWhatWasEntered) {
  run({[&](Form& d) {
         d[sv::kIPEdit].set_text(u"");
         retype(d, sv::kPortEdit, u"-1");
         d.arrow(sv::kUpDown2, 6);
         d.select(sv::kDataTypeCB, 1);
       },
       [&](Form& d) { d.click(sv::kOKButton); }});
  EXPECT_EQ(data.IPAddress, u"");
  EXPECT_EQ(data.Port, -1);
  EXPECT_EQ(data.Inputs, 7);
  EXPECT_EQ(byte, 7);
  EXPECT_EQ(data.DataType, 1);
  EXPECT_TRUE(hl::boxes().empty());
}

TEST_F(ParameterDialog, ThePortHasNoRange) {
  for (const auto& entry : {std::pair{u"0", 0}, {u"-1", -1}, {u"70000", 70000}}) {
    run({[&](Form& d) {
      retype(d, sv::kPortEdit, entry.first);
      d.click(sv::kOKButton);
    }});
    EXPECT_EQ(data.Port, entry.second);
  }
  EXPECT_TRUE(hl::boxes().empty());
}

TEST_F(ParameterDialog, TheArrowsStopAtOneAndFifty) {
  data.Inputs = 48;
  run({[&](Form& d) {
    d.arrow(sv::kUpDown2, 5);
    EXPECT_EQ(d[sv::kIntegerEdit1].text(), u"50");
    d.press_enter();
  }});
  EXPECT_EQ(data.Inputs, 50);
  EXPECT_EQ(byte, 50);
  run({[&](Form& d) {
    d.arrow(sv::kUpDown2, -60);
    d.press_enter();
  }});
  EXPECT_EQ(data.Inputs, 1);
  EXPECT_EQ(byte, 1);
}

// Enter checks the focused field first: an error keeps the dialog open and
// returns the field to the block's number, as leaving the field does; a
// good entry is what OK stores.
TEST_F(ParameterDialog, EnterChecksTheFieldAndAnErrorReturnsToTheStoredNumber) {
  data.Inputs = 8;
  run({[&](Form& d) {
         retype(d, sv::kIntegerEdit1, u"60");
         d.press_enter();
       },
       [&](Form& d) {
         const hl::Control& field = d[sv::kIntegerEdit1];
         EXPECT_EQ(field.text(), u"8");
         EXPECT_EQ(hl::focused(), field.handle());
         retype(d, sv::kIntegerEdit1, u"60");
         hl::move_focus(d[sv::kPortEdit]);
         EXPECT_EQ(field.text(), u"8");
         retype(d, sv::kIntegerEdit1, u"7");
         d.press_enter();
       }});
  ASSERT_EQ(hl::boxes().size(), 2u);
  EXPECT_EQ(hl::boxes()[0].text, svtest::kTooLarge);
  EXPECT_EQ(hl::boxes()[1].text, svtest::kTooLarge);
  EXPECT_EQ(data.Inputs, 7);
  EXPECT_EQ(byte, 7);
}

TEST_F(ParameterDialog, ClickingOKAfterABadEntryKeepsTheDialogOpen) {
  run({[&](Form& d) {
         retype(d, sv::kPortEdit, u"-");
         d.click(sv::kOKButton);
       },
       [&](Form& d) {
         EXPECT_EQ(d[sv::kPortEdit].text(), u"1600");
         d.click(sv::kOKButton);
       }});
  ASSERT_EQ(hl::boxes().size(), 1u);
  EXPECT_EQ(hl::boxes()[0].text, u"Falsches Zahlenformat");
  EXPECT_EQ(data.Port, 1600);
}

TEST_F(ParameterDialog, ErrorBoxFromTheLibraryIsOwnedByTheDialog) {
  svtest::use_string_lib("full");
  sv::ui::Window dialog = 0;
  run({[&](Form& d) {
         dialog = d.handle();
         retype(d, sv::kIntegerEdit1, u"0");
         hl::move_focus(d[sv::kOKButton]);
       },
       [&](Form& d) { d.press_enter(); }});
  ASSERT_EQ(hl::boxes().size(), 1u);
  EXPECT_EQ(hl::boxes()[0].text, u"Number too small");
  EXPECT_EQ(hl::boxes()[0].caption, u"Error");
  EXPECT_EQ(hl::boxes()[0].owner, dialog);
  svtest::use_string_lib("");
}

TEST_F(ParameterDialog, ADataTypeOutsideTheListSelectsNothingAndStoresMinusOne) {
  data.DataType = 7;
  run({[&](Form& d) {
    EXPECT_EQ(d.index(sv::kDataTypeCB), -1);
    d.press_enter();
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
    run({[&](Form& d) {
      EXPECT_EQ(d[sv::kIntegerEdit1].text(), c.shown) << c.stored;
      d.click(sv::kCancelButton);
    }});
    EXPECT_EQ(data.Inputs, c.stored);
    run({[&](Form& d) { d.press_enter(); }});
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
