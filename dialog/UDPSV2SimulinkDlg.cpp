#include "dialog/UDPSV2SimulinkDlg.h"

#include <memory>

#include "base/owner_window.h"
#include "dialog/IntegerEdit.h"
#include "dialog/UDPSV2SimulinkForm.h"

namespace sv {
namespace {

struct FieldProperties {
  std::int32_t MinValue, MaxValue;
  bool IsZeroAllowed;
  std::int32_t Value;
  std::u16string_view Format;
  bool NoBlanks, Beep;
  std::u16string_view Text;
};

// The form description's properties of the two integer fields.
constexpr FieldProperties kPortEditProperties{.MinValue = 0,
                                              .MaxValue = 0,
                                              .IsZeroAllowed = true,
                                              .Value = 0,
                                              .Format = u"%3d",
                                              .NoBlanks = true,
                                              .Beep = true,
                                              .Text = u"0"};
constexpr FieldProperties kIntegerEdit1Properties{.MinValue = 1,
                                                  .MaxValue = 50,
                                                  .IsZeroAllowed = true,
                                                  .Value = 1,
                                                  .Format = u"%3d",
                                                  .NoBlanks = true,
                                                  .Beep = true,
                                                  .Text = u"1"};

// The field's constructor, then the form description's properties in the
// order they are read.
std::unique_ptr<TIntegerEdit> make_field(ui::Window edit, const FieldProperties& p) {
  auto f = std::make_unique<TIntegerEdit>(edit);
  f->MinValue = p.MinValue;
  f->MaxValue = p.MaxValue;
  f->IsZeroAllowed = p.IsZeroAllowed;
  f->SetValue(p.Value);
  f->Format = p.Format;
  f->NoBlanks = p.NoBlanks;
  f->Beep = p.Beep;
  f->SetText(p.Text);
  return f;
}

class ParameterDialog final : public ui::DialogEvents {
 public:
  ParameterDialog(TUserData& data, std::uint8_t* inputs_byte, const bool* block_gone)
      : data_(data), inputs_byte_(inputs_byte), block_gone_(block_gone) {}

  void init(ui::Window dialog) override {
    port_edit_ = make_field(ui::dialog_item(dialog, kPortEdit), kPortEditProperties);
    integer_edit1_ = make_field(ui::dialog_item(dialog, kIntegerEdit1), kIntegerEdit1Properties);
    ui::list_set_index(ui::dialog_item(dialog, kDataTypeCB), kDouble);

    ui::set_window_text(ui::dialog_item(dialog, kIPEdit), data_.IPAddress);
    port_edit_->SetValue(data_.Port);
    // The up-down's position is a signed 16-bit number: the low 16 bits.
    const ui::Window up_down = ui::dialog_item(dialog, kUpDown2);
    ui::updown_set_position(up_down, static_cast<std::int16_t>(data_.Inputs & 0xFFFF));
    // The field's last accepted value is the number shown, so that an entry
    // error returns to the block's number, not to the form's 1.
    integer_edit1_->SetValue(ui::updown_position(up_down));
    ui::list_set_index(ui::dialog_item(dialog, kDataTypeCB), data_.DataType);
  }

  void closing(ui::Window dialog, int modal_result) override {
    if (modal_result != 1 || (block_gone_ && *block_gone_)) return;
    data_.IPAddress = ui::window_text(ui::dialog_item(dialog, kIPEdit));
    data_.Port = port_edit_->GetValue();
    data_.Inputs = ui::updown_position(ui::dialog_item(dialog, kUpDown2));
    if (inputs_byte_) *inputs_byte_ = static_cast<std::uint8_t>(data_.Inputs);
    data_.DataType = ui::list_index(ui::dialog_item(dialog, kDataTypeCB));
  }

 private:
  TUserData& data_;
  std::uint8_t* inputs_byte_;
  const bool* block_gone_;
  std::unique_ptr<TIntegerEdit> port_edit_;
  std::unique_ptr<TIntegerEdit> integer_edit1_;
};

}  // namespace

void run_parameter_dialog(TUserData& data, std::uint8_t* inputs_byte, const bool* block_gone) {
  ParameterDialog dialog(data, inputs_byte, block_gone);
  ui::run_modal(form::kParameterForm, owner_window(), dialog);
}

}  // namespace sv
