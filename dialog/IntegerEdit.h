// TIntegerEdit (unit svcomps): a single-line edit field for whole numbers.
// It filters typed keys, checks its text when the focus leaves it for
// another control of the form and when Enter would confirm the form,
// reports entry errors through a posted message and a message box, and
// shows its range on a right click.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dialog/window.h"

namespace sv {

// Private message the field posts to itself; lParam is the error code.
inline constexpr unsigned WM_INTEGEREDIT_ERROR = 0x7F09;

enum IntegerEditError : int {
  kNoError = 0,
  kWrongFormat = 1,
  kTooLarge = 2,
  kTooSmall = 3,
  kZeroNotAllowed = 4,
};

class TIntegerEdit : private ui::EditEvents {
 public:
  // Takes over an edit field of a form and sets the defaults; the text
  // becomes "0". The field reports to it from then on, so it must outlive
  // the form.
  explicit TIntegerEdit(ui::EditWindow& edit);
  virtual ~TIntegerEdit() = default;
  TIntegerEdit(const TIntegerEdit&) = delete;
  TIntegerEdit& operator=(const TIntegerEdit&) = delete;

  // MinValue = MaxValue = 0 means no range.
  std::int32_t MinValue = 0;
  std::int32_t MaxValue = 0;

 private:
  std::int32_t FValue = 0;  // the last accepted value

 public:
  bool IsZeroAllowed = true;
  std::u16string Format = u"%3d";
  bool NoBlanks = true;
  bool Beep = true;

  // Inherited from the edit control.
  std::intptr_t Tag = 0;
  std::u16string Text() const;
  void SetText(std::u16string_view text);
  bool ReadOnly() const;
  void SetReadOnly(bool read_only);
  std::function<void(TIntegerEdit&, char16_t&)> OnKeyPress;
  std::function<void(TIntegerEdit&)> OnExit;
  std::function<void(TIntegerEdit&, ui::MouseButton, int, int)> OnMouseDown;

  // Value reads through GetValue and writes through SetValue.
  std::int32_t GetValue();
  void SetValue(std::int32_t n);

  virtual bool IsValidChar(char16_t ch) const;
  int CheckValue() const;
  bool Validate();
  void ShowRangeHelp(ui::MouseButton button, int x, int y);
  void ShowError(std::intptr_t code);

 private:
  void key_press(char16_t& ch) override;
  void exit() override;
  void mouse_down(ui::MouseButton button, int x, int y) override;
  void posted(std::intptr_t lparam) override;
  bool accept() override;

  ui::EditWindow& edit_;
};

// The number readers of the field, exposed for tests and fuzzing.
namespace integer_edit {

// A real number as CheckValue reads it: leading blanks, an optional sign,
// digits with an optional fraction and an optional exponent, nothing after.
// Evaluated in extended precision with every x87 exception masked, so an
// overflowing exponent gives infinity and never traps.
bool read_real(std::u16string_view text, long double& value);

// n formatted by a Format pattern: "%[-][0][width][.digits]d" and "%%";
// other characters are copied. Raises sv::Error on any other conversion.
std::u16string format_int(std::u16string_view pattern, std::int32_t n);

}  // namespace integer_edit

}  // namespace sv
