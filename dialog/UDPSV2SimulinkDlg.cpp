#include "dialog/UDPSV2SimulinkDlg.h"

#include <algorithm>
#include <array>
#include <optional>

#include "base/errors.h"
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

// The form description's properties, in the order they are read.
void apply(TIntegerEdit& f, const FieldProperties& p) {
  f.MinValue = p.MinValue;
  f.MaxValue = p.MaxValue;
  f.IsZeroAllowed = p.IsZeroAllowed;
  f.SetValue(p.Value);
  f.Format = p.Format;
  f.NoBlanks = p.NoBlanks;
  f.Beep = p.Beep;
  f.SetText(p.Text);
}

// The up-down's position is a signed 16-bit number, set from the low 16
// bits of Inputs; outside its range it is the nearer bound.
int shown_inputs(std::int32_t inputs) {
  const ui::ControlSpec& up_down =
      *std::ranges::find(form::kControls, kUpDown2, &ui::ControlSpec::id);
  return std::clamp<int>(static_cast<std::int16_t>(inputs & 0xFFFF), up_down.min, up_down.max);
}

using Controls = std::array<ui::ControlSpec, std::size(form::kControls)>;

// The form as it opens for the block: the form description's controls with
// the block's address, number of inputs and data type. (The port goes in
// through its field's Value.)
Controls controls_for(const TUserData& data, int inputs_shown) {
  Controls controls = std::to_array(form::kControls);
  for (ui::ControlSpec& c : controls) {
    if (c.id == kIPEdit) c.text = data.IPAddress;
    if (c.id == kUpDown2) c.position = inputs_shown;
    // A code outside the list selects nothing.
    if (c.id == kDataTypeCB) c.index = is_data_type(data.DataType) ? data.DataType : -1;
  }
  return controls;
}

class ParameterDialog final : public ui::DialogEvents {
 public:
  ParameterDialog(TUserData& data, int inputs_shown, std::uint8_t* inputs_byte,
                  const bool* block_gone)
      : data_(data),
        inputs_shown_(inputs_shown),
        inputs_byte_(inputs_byte),
        block_gone_(block_gone) {}

  void init(ui::Form& form) override {
    apply(port_edit_.emplace(form.edit(kPortEdit)), kPortEditProperties);
    apply(integer_edit1_.emplace(form.edit(kIntegerEdit1)), kIntegerEdit1Properties);
    port_edit_->SetValue(data_.Port);
    // The field's last accepted value is the number shown, so that an entry
    // error returns to the block's number, not to the form's 1.
    integer_edit1_->SetValue(inputs_shown_);
  }

  void closing(ui::Form& form, int modal_result) override {
    if (modal_result != 1 || (block_gone_ && *block_gone_)) return;
    data_.IPAddress = form.edit(kIPEdit).text();
    data_.Port = port_edit_->GetValue();
    data_.Inputs = form.position(kUpDown2);
    if (inputs_byte_) *inputs_byte_ = static_cast<std::uint8_t>(data_.Inputs);
    data_.DataType = form.index(kDataTypeCB);
  }

 private:
  TUserData& data_;
  const int inputs_shown_;
  std::uint8_t* inputs_byte_;
  const bool* block_gone_;
  // The fields report to them while the form is open: they outlive it.
  std::optional<TIntegerEdit> port_edit_;
  std::optional<TIntegerEdit> integer_edit1_;
};

}  // namespace

void run_parameter_dialog(TUserData& data, std::uint8_t* inputs_byte, const bool* block_gone) {
  const int inputs_shown = shown_inputs(data.Inputs);
  const Controls controls = controls_for(data, inputs_shown);
  ParameterDialog dialog(data, inputs_shown, inputs_byte, block_gone);
  ui::FormSpec form = form::kParameterForm;
  form.controls = controls;
  if (ui::run_modal(form, owner_window(), dialog) == ui::kControlsMissing) {
    throw Error(
        u"Der Parameterdialog kann nicht geöffnet werden: Das Auf-Ab-Feld der Common Controls "
        u"(COMCTL32.DLL) fehlt.");
  }
}

}  // namespace sv
