// The form description of TUDPSV2SimulinkDialog: caption, size, font and
// the controls in tab order.
#pragma once

#include <array>
#include <string_view>

#include "base/user_data.h"
#include "dialog/window.h"

namespace sv {

// Control ids of the form. The Cancel button is not IDCANCEL (2): that id is
// what the Escape key sends, and Escape must not press it.
enum DialogControl : int {
  kOKButton = 1,
  kCancelButton = 101,
  kGroupBox1,
  kLabel1,
  kIPEdit,
  kLabel2,
  kPortEdit,
  kLabel4,
  kDataTypeCB,
  kGroupBox2,
  kLabel3,
  kIntegerEdit1,
  kUpDown2,
};

namespace form {

// The data type list: its index is the data type code (TUserData::DataType).
inline constexpr auto kDataTypeItems = [] {
  std::array<std::u16string_view, kDataTypeCount> items{};
  for (std::int32_t code = 0; code < kDataTypeCount; ++code) items[code] = kDataTypes[code].name;
  return items;
}();
static_assert(
    [] {
      for (const DataTypeInfo& type : kDataTypes)
        if (kDataTypeItems[type.code] != type.name) return false;
      return true;
    }(),
    "the dialog stores the list's index as the data type code");

// Pixels at 96 dpi in the form's client area, in tab order. The controls of
// the two group boxes are placed relative to the form: GroupBox1 sits at
// (12, 84) and GroupBox2 at (12, 16).
// A control a row, its place on the second.
// clang-format off
inline constexpr ui::ControlSpec kControls[] = {
    {.id = kOKButton, .kind = ui::ControlKind::push_button, .text = u"OK",
     .left = 372, .top = 24, .width = 75, .height = 23, .default_button = true, .modal_result = 1},
    {.id = kCancelButton, .kind = ui::ControlKind::push_button, .text = u"Cancel",
     .left = 372, .top = 56, .width = 75, .height = 23, .modal_result = 2},
    {.id = kGroupBox1, .kind = ui::ControlKind::group_box, .text = u" Parameters ",
     .left = 12, .top = 84, .width = 341, .height = 109},
    {.id = kLabel1, .kind = ui::ControlKind::label, .text = u"IP Address:",
     .left = 12 + 24, .top = 84 + 32, .width = 54, .height = 13},
    {.id = kIPEdit, .kind = ui::ControlKind::edit, .text = u"0",
     .left = 12 + 96, .top = 84 + 28, .width = 121, .height = 21},
    {.id = kLabel2, .kind = ui::ControlKind::label, .text = u"Port:",
     .left = 12 + 240, .top = 84 + 32, .width = 22, .height = 13},
    {.id = kPortEdit, .kind = ui::ControlKind::edit, .text = u"0",
     .left = 12 + 272, .top = 84 + 28, .width = 61, .height = 21},
    {.id = kLabel4, .kind = ui::ControlKind::label, .text = u"Data type:",
     .left = 12 + 24, .top = 84 + 76, .width = 49, .height = 13},
    {.id = kDataTypeCB, .kind = ui::ControlKind::drop_down_list, .text = kDataTypes[kDouble].name,
     .left = 12 + 96, .top = 84 + 72, .width = 121, .height = 21, .items = kDataTypeItems,
     .item_height = 13, .index = kDouble},
    {.id = kGroupBox2, .kind = ui::ControlKind::group_box, .text = u" Inputs ",
     .left = 12, .top = 16, .width = 341, .height = 57},
    {.id = kLabel3, .kind = ui::ControlKind::label, .text = u"Inputs:",
     .left = 12 + 24, .top = 16 + 24, .width = 32, .height = 13},
    {.id = kIntegerEdit1, .kind = ui::ControlKind::edit, .text = u"1",
     .left = 12 + 72, .top = 16 + 20, .width = 41, .height = 21},
    {.id = kUpDown2, .kind = ui::ControlKind::up_down, .text = u"",
     .left = 12 + 113, .top = 16 + 20, .width = 16, .height = 21, .buddy_id = kIntegerEdit1,
     .min = 1, .max = 50, .position = 1},
};
// clang-format on

inline constexpr ui::FormSpec kParameterForm{
    .caption = u"UDP SV2Simulink",
    .client_width = 457,
    .client_height = 202,
    .font_name = u"MS Sans Serif",
    .font_points = 8,
    .controls = kControls,
};

}  // namespace form

}  // namespace sv
