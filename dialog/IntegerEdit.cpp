#include "dialog/IntegerEdit.h"

#include <cstdlib>

#include "base/errors.h"
#include "base/text.h"
#include "base/text_ids.h"
#include "base/x87.h"
#include "support/SVString.h"

namespace sv {
namespace integer_edit {
namespace {

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// 10^e for e >= 0; with exceptions masked a large e gives infinity.
long double power_of_ten(int e) {
  long double result = 1.0L;
  long double base = 10.0L;
  while (e > 0) {
    if (e & 1) result *= base;
    base *= base;
    e >>= 1;
  }
  return result;
}

}  // namespace

bool read_real(std::u16string_view s, long double& value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';

  // Up to 19 significant digits fit a 64-bit mantissa exactly; further
  // digits only move the decimal exponent.
  std::uint64_t mantissa = 0;
  int significant = 0;
  long exponent = 0;
  bool any_digit = false;
  for (; i < s.size() && is_digit(s[i]); ++i) {
    any_digit = true;
    if (significant < 19) {
      mantissa = mantissa * 10 + (s[i] - u'0');
      if (mantissa != 0) ++significant;
    } else {
      ++exponent;
    }
  }
  if (i < s.size() && s[i] == u'.') {
    for (++i; i < s.size() && is_digit(s[i]); ++i) {
      any_digit = true;
      if (significant < 19) {
        mantissa = mantissa * 10 + (s[i] - u'0');
        if (mantissa != 0) ++significant;
        --exponent;
      }
    }
  }
  if (!any_digit) return false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool exp_negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) exp_negative = s[i++] == u'-';
    if (i == s.size() || !is_digit(s[i])) return false;
    long e = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
      if (e < 1000000) e = e * 10 + (s[i] - u'0');
    }
    exponent += exp_negative ? -e : e;
  }
  if (i != s.size()) return false;

  // Beyond these exponents the result is 0 or infinity anyway.
  if (exponent > 6000) exponent = 6000;
  if (exponent < -6000) exponent = -6000;
  // Overflow to infinity and underflow to zero are the reading, not a
  // failure, whatever the caller traps.
  std::uint16_t ignored;
  value = x87::compute_masked(
      [&] {
        long double v = static_cast<long double>(mantissa);
        if (mantissa != 0 && exponent > 0) v *= power_of_ten(static_cast<int>(exponent));
        if (mantissa != 0 && exponent < 0) {
          // Two steps so that tiny results are not lost to an infinite divisor.
          int e = static_cast<int>(-exponent);
          int first = e > 4000 ? 4000 : e;
          v /= power_of_ten(first);
          if (e > first) v /= power_of_ten(e - first);
        }
        return negative ? -v : v;
      },
      ignored);
  return true;
}

std::u16string format_int(std::u16string_view pattern, std::int32_t n) {
  std::u16string out;
  bool converted = false;
  auto invalid = [&]() -> Error {
    return Error(u"Format '" + std::u16string(pattern) +
                 u"' ungültig oder nicht mit dem Argument vereinbar");
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'%') {
      out.push_back(pattern[i]);
      continue;
    }
    if (++i == pattern.size()) throw invalid();
    if (pattern[i] == u'%') {
      out.push_back(u'%');
      continue;
    }
    bool left = false;
    if (pattern[i] == u'-') {
      left = true;
      ++i;
    }
    int width = 0, precision = -1;
    for (; i < pattern.size() && is_digit(pattern[i]); ++i) {
      width = width * 10 + (pattern[i] - u'0');
      if (width > 4096) throw invalid();
    }
    if (i < pattern.size() && pattern[i] == u'.') {
      precision = 0;
      for (++i; i < pattern.size() && is_digit(pattern[i]); ++i) {
        precision = precision * 10 + (pattern[i] - u'0');
        if (precision > 4096) throw invalid();
      }
    }
    if (i == pattern.size() || (pattern[i] != u'd' && pattern[i] != u'D') || converted)
      throw invalid();
    converted = true;
    std::u16string digits = int_to_u16(std::llabs(static_cast<long long>(n)));
    if (precision > static_cast<int>(digits.size()))
      digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), u'0');
    if (n < 0) digits.insert(digits.begin(), u'-');
    if (width > static_cast<int>(digits.size())) {
      std::u16string pad(static_cast<std::size_t>(width) - digits.size(), u' ');
      digits = left ? digits + pad : pad + digits;
    }
    out += digits;
  }
  return out;
}

}  // namespace integer_edit

namespace {

bool has_range(std::int32_t min, std::int32_t max) { return min != 0 || max != 0; }

std::u16string trimmed(std::u16string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] <= u' ') ++b;
  while (e > b && s[e - 1] <= u' ') --e;
  return std::u16string(s.substr(b, e - b));
}

// The range help is composed in a buffer of 256 characters; a longer text
// from the string-resource library is cut to its 255 characters, never
// through the middle of a surrogate pair.
constexpr std::size_t kRangeHelpChars = 255;

void cut_to_buffer(std::u16string& s) {
  if (s.size() <= kRangeHelpChars) return;
  s.resize(kRangeHelpChars);
  if (s.back() >= 0xD800 && s.back() < 0xDC00) s.pop_back();
}

std::u16string load_text(std::int32_t id) {
  char16_t buffer[256];
  return svstring::LoadText(id, buffer, 256);
}

// Per error code: the library's text id and the built-in text.
constexpr std::int32_t kErrorTextIds[] = {0, text_id::kWrongFormat, text_id::kTooLarge,
                                          text_id::kTooSmall, text_id::kZeroNotAllowed};
constexpr std::u16string_view kErrorTexts[] = {u"", u"Falsches Zahlenformat", u"Zahlenwert zu groß",
                                               u"Zahlenwert zu klein",
                                               u"Zahlenwert 0 nicht erlaubt"};

}  // namespace

TIntegerEdit::TIntegerEdit(ui::EditWindow& edit) : edit_(edit) {
  IsZeroAllowed = true;
  Format = u"%3d";
  NoBlanks = true;
  MinValue = 0;
  MaxValue = 0;
  FValue = 0;
  SetText(u"0");
  Beep = true;
  OnMouseDown = [](TIntegerEdit& self, ui::MouseButton b, int x, int y) {
    self.ShowRangeHelp(b, x, y);
  };
  edit_.listen(*this, WM_INTEGEREDIT_ERROR);
}

std::u16string TIntegerEdit::Text() const { return edit_.text(); }
void TIntegerEdit::SetText(std::u16string_view text) { edit_.set_text(text); }
bool TIntegerEdit::ReadOnly() const { return edit_.read_only(); }
void TIntegerEdit::SetReadOnly(bool read_only) { edit_.set_read_only(read_only); }

std::int32_t TIntegerEdit::GetValue() {
  if (auto v = parse_int32(Text())) {
    if (!has_range(MinValue, MaxValue) || (*v >= MinValue && *v <= MaxValue)) FValue = *v;
  }
  return FValue;
}

void TIntegerEdit::SetValue(std::int32_t n) {
  FValue = n;
  std::u16string text = integer_edit::format_int(Format, n);
  SetText(NoBlanks ? trimmed(text) : text);
}

bool TIntegerEdit::IsValidChar(char16_t ch) const {
  return ch == 8 || ch == u'+' || ch == u'-' || (ch >= u'0' && ch <= u'9');
}

int TIntegerEdit::CheckValue() const {
  long double v;
  if (!integer_edit::read_real(Text(), v)) return kWrongFormat;
  // A tiny reading is a denormal operand of the comparisons below, which a
  // caller may trap; the check itself never fails.
  std::uint16_t ignored;
  return x87::compute_masked(
      [&] {
        int code = kNoError;
        if (has_range(MinValue, MaxValue)) {
          if (v > static_cast<long double>(MaxValue)) code = kTooLarge;
          if (v < static_cast<long double>(MinValue)) code = kTooSmall;
        }
        if (code == kNoError && !IsZeroAllowed && v == 0.0L) code = kZeroNotAllowed;
        return code;
      },
      ignored);
}

bool TIntegerEdit::Validate() {
  if (ReadOnly()) return true;
  int code = CheckValue();
  if (code > kNoError) {
    // Posted, so the box comes up once the focus is back in the field.
    edit_.post(code);
    SetValue(FValue);
    edit_.focus();
    return false;
  }
  FValue = GetValue();
  return true;
}

void TIntegerEdit::ShowRangeHelp(ui::MouseButton button, int, int) {
  if (button != ui::MouseButton::right || ReadOnly() || Tag < 0) return;
  std::u16string text, caption;
  if (svstring::StringLibHandle() != 0) {
    caption = svstring::GetText(text_id::kRangeHeading);
    text = caption + u":\n\r";
    if (has_range(MinValue, MaxValue)) {
      text += svstring::GetText(text_id::kRangeFrom) + int_to_u16(MinValue) + u"\n\r" +
              svstring::GetText(text_id::kRangeTo) + int_to_u16(MaxValue);
    } else {
      text += svstring::GetText(text_id::kNoRestriction);
    }
    if (!IsZeroAllowed) text += u"\r\n" + load_text(text_id::kZeroNotAllowedNote);
    cut_to_buffer(text);
    platform::message_box(edit_.parent(), text, caption, platform::kMbIconWarning);
  } else {
    text = u"Zulässiger Wertebereich:\n\r";
    if (has_range(MinValue, MaxValue)) {
      text += u"von: " + int_to_u16(MinValue) + u"\n\r" + u"bis: " + int_to_u16(MaxValue);
    } else {
      text += u"keine Einschränkungen";
    }
    if (!IsZeroAllowed) text += u"\r\n(Wert 0 nicht erlaubt)";
    platform::message_box(0, text, u"Zulässiger Wertebereich",
                          platform::kMbTaskModal | platform::kMbIconWarning);
  }
}

void TIntegerEdit::ShowError(std::intptr_t code) {
  if (code < kWrongFormat || code > kZeroNotAllowed) return;
  if (svstring::StringLibHandle() != 0) {
    svstring::ShowMessageById(kErrorTextIds[code], text_id::kErrorCaption,
                              platform::kMbIconWarning);
  } else {
    platform::message_box(0, kErrorTexts[code], u"Fehler",
                          platform::kMbTaskModal | platform::kMbIconWarning);
  }
}

void TIntegerEdit::key_press(char16_t& ch) {
  if (!IsValidChar(ch)) {
    ch = 0;
    if (Beep) platform::message_beep(0);
  }
  if (ch != 0 && OnKeyPress) OnKeyPress(*this, ch);
}

void TIntegerEdit::exit() {
  if (OnExit) OnExit(*this);
  Validate();
}

void TIntegerEdit::mouse_down(ui::MouseButton button, int x, int y) {
  if (OnMouseDown) OnMouseDown(*this, button, x, y);
}

void TIntegerEdit::posted(std::intptr_t lparam) { ShowError(lparam); }

// Enter confirms the form without moving the focus: the entry is checked
// as if the field were left, and an error keeps the form open.
bool TIntegerEdit::accept() { return Validate(); }

}  // namespace sv
