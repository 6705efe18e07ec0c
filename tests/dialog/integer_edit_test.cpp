#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/owner_window.h"
#include "base/text.h"
#include "base/x87.h"
#include "dialog/IntegerEdit.h"
#include "tests/common/edge_text.h"
#include "tests/common/headless.h"
#include "tests/common/texts.h"
#include "tests/support/string_lib.h"

namespace {

namespace hl = sv::ui::headless;
using sv::TIntegerEdit;
using sv::ui::MouseButton;

class IntegerEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    svtest::use_string_lib("");
    hl::reset();
    field = std::make_unique<TIntegerEdit>(edit);
  }
  void TearDown() override {
    field.reset();
    hl::reset();
    svtest::use_string_lib("");
    sv::set_owner_window(0);
  }

  void range(int min, int max) {
    field->MinValue = min;
    field->MaxValue = max;
  }
  // Types text into the field, as a user does after selecting all of it.
  void enter(std::u16string_view text) {
    hl::move_focus(edit);
    field->SetText(u"");
    hl::type(edit, text);
  }
  void leave() { hl::move_focus(other); }

  static constexpr sv::ui::Window kForm = 0xF0;  // the fields' form
  hl::Control edit{kForm}, other{kForm};
  std::unique_ptr<TIntegerEdit> field;
};

TEST_F(IntegerEdit, StartsWithItsDefaults) {
  EXPECT_EQ(field->Text(), u"0");
  EXPECT_EQ(field->MinValue, 0);
  EXPECT_EQ(field->MaxValue, 0);
  EXPECT_EQ(field->GetValue(), 0);
  EXPECT_TRUE(field->IsZeroAllowed);
  EXPECT_EQ(field->Format, u"%3d");
  EXPECT_TRUE(field->NoBlanks);
  EXPECT_TRUE(field->Beep);
}

TEST_F(IntegerEdit, KeyFilterPassesDigitsSignsAndBackspaceOnly) {
  enter(u"12a. 3+-");
  EXPECT_EQ(field->Text(), u"123+-");
  EXPECT_EQ(hl::beeps(), (std::vector<unsigned>{0, 0, 0}));
  hl::type(edit, u"\b\b");
  EXPECT_EQ(field->Text(), u"123");
  // Enter, Escape, Tab and the clipboard shortcuts' control codes.
  hl::type(edit, u"\r\x1b\t\x16\x03\x18");
  EXPECT_EQ(field->Text(), u"123");
  EXPECT_EQ(hl::beeps().size(), 9u);

  field->Beep = false;
  hl::type(edit, u"x");
  EXPECT_EQ(hl::beeps().size(), 9u);
  EXPECT_EQ(field->Text(), u"123");
}

TEST_F(IntegerEdit, KeyPressEventSeesOnlyAcceptedCharacters) {
  std::u16string seen;
  field->OnKeyPress = [&](TIntegerEdit&, char16_t& c) { seen.push_back(c); };
  enter(u"4x-");
  EXPECT_EQ(seen, u"4-");
}

struct EntryCase {
  const char16_t* text;
  int code;
  const char16_t* message;
};

class IntegerEditRange : public IntegerEdit, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(IntegerEditRange, ABadEntryIsReportedAndTheFieldGoesBack) {
  range(1, 50);
  enter(u"7");
  leave();
  ASSERT_TRUE(hl::boxes().empty());
  EXPECT_EQ(field->GetValue(), 7);

  enter(GetParam().text);
  EXPECT_EQ(field->CheckValue(), GetParam().code);
  leave();
  ASSERT_EQ(hl::boxes().size(), 1u);
  const auto& box = hl::boxes()[0];
  EXPECT_EQ(box.text, GetParam().message);
  EXPECT_EQ(box.caption, u"Fehler");
  EXPECT_EQ(box.flags, 0x2030u);
  EXPECT_EQ(box.owner, 0u);
  EXPECT_EQ(box.focus, edit.handle());  // the box comes once the focus is back
  EXPECT_EQ(hl::focused(), edit.handle());
  EXPECT_EQ(field->Text(), u"7");
  EXPECT_EQ(field->GetValue(), 7);
}

INSTANTIATE_TEST_SUITE_P(Entries, IntegerEditRange,
                         ::testing::Values(EntryCase{u"51", 2, svtest::kTooLarge},
                                           EntryCase{u"0", 3, u"Zahlenwert zu klein"},
                                           EntryCase{u"-3", 3, u"Zahlenwert zu klein"},
                                           EntryCase{u"", 1, u"Falsches Zahlenformat"},
                                           EntryCase{u"-", 1, u"Falsches Zahlenformat"},
                                           EntryCase{u"5-", 1, u"Falsches Zahlenformat"},
                                           EntryCase{u"+-", 1, u"Falsches Zahlenformat"}));

TEST_F(IntegerEdit, WithoutRangeAnyIntegerIsAcceptedAndZeroCanBeRefused) {
  enter(u"-70000");
  leave();
  EXPECT_TRUE(hl::boxes().empty());
  EXPECT_EQ(field->GetValue(), -70000);

  field->IsZeroAllowed = false;
  for (const char16_t* zero : {u"0", u"+0", u"-0"}) {
    hl::clear_records();
    enter(zero);
    EXPECT_EQ(field->CheckValue(), 4) << std::string(zero, zero + 2);
    leave();
    ASSERT_EQ(hl::boxes().size(), 1u);
    EXPECT_EQ(hl::boxes()[0].text, u"Zahlenwert 0 nicht erlaubt");
    EXPECT_EQ(field->Text(), u"-70000");
  }
}

TEST_F(IntegerEdit, ARealNumberInRangePassesButLeavesValueAlone) {
  range(1, 50);
  field->SetValue(9);
  hl::move_focus(edit);
  field->SetText(u"2.5");  // pasted
  EXPECT_EQ(field->CheckValue(), 0);
  leave();
  EXPECT_TRUE(hl::boxes().empty());
  EXPECT_EQ(field->Text(), u"2.5");
  EXPECT_EQ(field->GetValue(), 9);
}

TEST_F(IntegerEdit, CheckValueReadsRealNumbersWithoutTrapping) {
  // The start-up's control word traps invalid operation and overflow.
  std::uint16_t saved = sv::x87::control_word();
  sv::x87::load(sv::x87::kStartupControlWord, 0);
  range(1, 50);
  struct {
    const char16_t* text;
    int code;
  } cases[] = {{u"  7", 0},     {u"7 ", 1},      {u"1e1", 0},        {u"5E+1", 0},
               {u"0.5e2", 0},   {u".5e1", 0},    {u"5.", 0},         {u".", 1},
               {u"e5", 1},      {u"1e", 1},      {u"1e400", 2},      {u"1e99999", 2},
               {u"-1e5000", 3}, {u"1e-5000", 3}, {u"50.0000001", 2}, {u"0.99999", 3},
               {u"$10", 1},     {u"1,5", 1},     {u"0e99999", 3},    {u"-0e5000", 3},
               {u"", 1},        {u"   ", 1}};
  for (const auto& c : cases) {
    field->SetText(c.text);
    EXPECT_EQ(field->CheckValue(), c.code) << sv::utf8(c.text);
  }
  EXPECT_EQ(sv::x87::control_word() & ~0x40, sv::x87::kStartupControlWord);
  sv::x87::load(saved, 0);
}

TEST_F(IntegerEdit, TooSmallWinsWhenTheBoundsAreCrossed) {
  range(10, 5);
  field->SetText(u"7");
  EXPECT_EQ(field->CheckValue(), 3);
  field->SetText(u"12");
  EXPECT_EQ(field->CheckValue(), 2);
}

TEST_F(IntegerEdit, GetValueTakesOnlyAcceptableIntegers) {
  field->SetText(u"$1F");
  EXPECT_EQ(field->GetValue(), 31);
  field->SetText(u"99999999999");
  EXPECT_EQ(field->GetValue(), 31);
  range(1, 50);
  field->SetText(u"51");
  EXPECT_EQ(field->GetValue(), 31);
  field->SetText(u" 50");
  EXPECT_EQ(field->GetValue(), 50);
}

TEST_F(IntegerEdit, SetValueFormatsAndTrims) {
  field->SetValue(7);
  EXPECT_EQ(field->Text(), u"7");
  field->SetValue(1234);
  EXPECT_EQ(field->Text(), u"1234");
  field->NoBlanks = false;
  field->SetValue(7);
  EXPECT_EQ(field->Text(), u"  7");
  field->SetValue(-5);
  EXPECT_EQ(field->Text(), u" -5");
  field->SetValue(1234);
  EXPECT_EQ(field->Text(), u"1234");
  field->Format = u"[%-4d]";
  field->SetValue(-2147483647 - 1);
  EXPECT_EQ(field->Text(), u"[-2147483648]");
  field->SetValue(5);
  EXPECT_EQ(field->Text(), u"[5   ]");
  field->Format = u"   ";  // no conversion: the number is left out
  field->SetValue(5);
  EXPECT_EQ(field->Text(), u"   ");
  field->NoBlanks = true;
  field->SetValue(5);
  EXPECT_EQ(field->Text(), u"");
  field->Format = u"%s";
  EXPECT_THROW(field->SetValue(5), sv::Error);
}

// Format's width, precision and flag read as C's printf reads them; the
// digits that fit a 4096-character field are the limit.
TEST_F(IntegerEdit, FormatReadsWidthAndPrecisionAsPrintfDoes) {
  for (const bool no_blanks : {false, true}) {
    field->NoBlanks = no_blanks;
    for (const char* format : {"%d", "%1d", "%3d", "%10d", "%-12d", "%.1d", "%.3d", "%6.3d",
                               "%-6.3d", "%12.10d", "<%-5d>", "%d%%"}) {
      for (std::int32_t n : {0, 7, -7, 1234, -2147483647 - 1}) {
        if (n == 0 && std::string_view(format).find(".") != std::string_view::npos) continue;
        char printed[64];
        std::snprintf(printed, sizeof printed, format, n);
        std::string expected = printed;
        if (no_blanks) {
          expected.erase(0, expected.find_first_not_of(' '));
          expected.erase(expected.find_last_not_of(' ') + 1);
        }
        field->Format = sv::u16(format);
        field->SetValue(n);
        EXPECT_EQ(sv::utf8(field->Text()), expected) << format << " with " << n << no_blanks;
      }
    }
  }
  field->NoBlanks = false;
  field->Format = u"%.4096d";
  field->SetValue(5);
  EXPECT_EQ(field->Text(), std::u16string(4095, u'0') + u"5");
  field->Format = u"%4096d";
  field->SetValue(5);
  EXPECT_EQ(field->Text().size(), 4096u);
  for (const char16_t* bad : {u"%.4097d", u"%4097d", u"%", u"%3", u"%.3", u"%x", u"%d%d"}) {
    field->Format = bad;
    try {
      field->SetValue(5);
      ADD_FAILURE() << sv::utf8(bad) << ": no failure";
    } catch (const sv::Error& e) {
      EXPECT_EQ(e.message(), u"Format '" + std::u16string(bad) +
                                 u"' ungültig oder nicht mit dem Argument vereinbar");
    }
  }
}

// Validate says whether the text was accepted; a read-only field accepts.
TEST_F(IntegerEdit, ValidateReportsWhetherTheTextWasAccepted) {
  range(1, 50);
  field->SetText(u"12");
  EXPECT_TRUE(field->Validate());
  EXPECT_EQ(field->GetValue(), 12);
  field->SetText(u"51");
  EXPECT_FALSE(field->Validate());
  EXPECT_EQ(field->Text(), u"12");
  field->SetText(u"x");
  EXPECT_FALSE(field->Validate());
  field->SetReadOnly(true);
  field->SetText(u"x");
  EXPECT_TRUE(field->Validate());
  EXPECT_EQ(field->Text(), u"x");
}

// The readers take views that need not end in a zero: none of them may
// look past the view's last character.
TEST(IntegerEditReaders, StayWithinTheirText) {
  long double v = 0;
  for (const char16_t* text : {u"", u"   ", u"-", u"1e", u"1e+", u"2.", u"7", u"1.5e3", u"x"}) {
    svtest::EdgeText16 edge(text);
    std::u16string copy(text);
    long double expected = 0;
    const bool reads = sv::integer_edit::read_real(copy, expected);
    EXPECT_EQ(sv::integer_edit::read_real(edge.view(), v), reads) << sv::utf8(text);
  }
  for (const char16_t* pattern : {u"%3", u"%.3", u"%-12", u"%", u"ab", u""}) {
    svtest::EdgeText16 edge(pattern);
    try {
      sv::integer_edit::format_int(edge.view(), 5);
    } catch (const sv::Error&) {}
  }
  // A view cut from a longer text reads as itself, not as the longer text.
  const std::u16string longer = u"1e5";
  EXPECT_FALSE(sv::integer_edit::read_real(std::u16string_view(longer).substr(0, 2), v));
}

// Nineteen significant digits count, leading zeros not among them; later
// ones scale before the point and drop after it. Exponents saturate to
// infinity and, past the subnormal numbers, to zero.
TEST(IntegerEditReaders, RealNumbersToTheirDigitAndExponentLimits) {
  constexpr long double kInf = std::numeric_limits<long double>::infinity();
  constexpr long double kDigits = 1e-18L, kPowers = 1e-12L;  // relative error allowed
  const struct {
    const char16_t* text;
    long double value, error;
  } kCases[] = {
      {u"1234567890123456789", 1234567890123456789.0L, kDigits},
      {u"12345678901234567891", 12345678901234567890.0L, kDigits},
      {u"99999999999999999999", 99999999999999999990.0L, kDigits},
      {u"0.12345678901234567891", 0.1234567890123456789L, kDigits},
      {u"0.99999999999999999999", 0.9999999999999999999L, kDigits},
      {u"000.0000000001234567890123456789", 1.234567890123456789e-10L, kDigits},
      {u"1234567890.1234567891", 1234567890.123456789L, kDigits},
      {u"1234567890123456789e-19", 0.1234567890123456789L, kDigits},
      {u" -.5E+0001", -5.0L, 0},
      {u"1e0000000000000000000002", 100.0L, 0},
      {u"1e4932", 1e4932L, kPowers},
      {u"1e4933", kInf, 0},
      {u"-1e99999999999999999999", -kInf, 0},
      {u"1e-4950", 1e-4950L, 0},
      {u"1e-4952", 0.0L, 0},
      {u"1e-99999999999999999999", 0.0L, 0},
      {u"0e99999", 0.0L, 0},  // zero, however large its exponent
  };
  for (const auto& c : kCases) {
    long double v = -1;
    ASSERT_TRUE(sv::integer_edit::read_real(c.text, v)) << sv::utf8(c.text);
    if (c.error == 0) {
      EXPECT_EQ(v, c.value) << sv::utf8(c.text);
    } else {
      EXPECT_LT(std::fabs(v / c.value - 1), c.error) << sv::utf8(c.text);
    }
  }
}

TEST_F(IntegerEdit, AReadOnlyFieldKeepsItsTextAndShowsNoRange) {
  range(1, 50);
  field->SetReadOnly(true);
  hl::move_focus(edit);
  field->SetText(u"abc");
  leave();
  hl::mouse_down(edit, MouseButton::right);
  EXPECT_TRUE(hl::boxes().empty());
  EXPECT_EQ(field->Text(), u"abc");
}

TEST_F(IntegerEdit, RangeHelpNeedsARightClickAndANonNegativeTag) {
  hl::mouse_down(edit, MouseButton::left);
  hl::mouse_down(edit, MouseButton::middle);
  field->Tag = -1;
  hl::mouse_down(edit, MouseButton::right);
  EXPECT_TRUE(hl::boxes().empty());
  field->Tag = 0;
  hl::mouse_down(edit, MouseButton::right);
  EXPECT_EQ(hl::boxes().size(), 1u);
}

TEST_F(IntegerEdit, RangeHelpInGerman) {
  range(1, 50);
  hl::mouse_down(edit, MouseButton::right);
  field->IsZeroAllowed = false;
  hl::mouse_down(edit, MouseButton::right);
  range(0, 0);
  hl::mouse_down(edit, MouseButton::right);
  range(-5, 0);
  field->IsZeroAllowed = true;
  hl::mouse_down(edit, MouseButton::right);
  const auto& b = hl::boxes();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].text, svtest::kInputsRange);
  EXPECT_EQ(b[0].caption, u"Zulässiger Wertebereich");
  EXPECT_EQ(b[0].flags, 0x2030u);
  EXPECT_EQ(b[0].owner, 0u);
  EXPECT_EQ(b[1].text, u"Zulässiger Wertebereich:\n\rvon: 1\n\rbis: 50\r\n(Wert 0 nicht erlaubt)");
  EXPECT_EQ(b[2].text,
            u"Zulässiger Wertebereich:\n\rkeine Einschränkungen\r\n(Wert 0 nicht erlaubt)");
  EXPECT_EQ(b[3].text, u"Zulässiger Wertebereich:\n\rvon: -5\n\rbis: 0");
}

TEST_F(IntegerEdit, RangeHelpFromTheLibrary) {
  svtest::use_string_lib("full");
  range(1, 50);
  field->IsZeroAllowed = false;
  hl::mouse_down(edit, MouseButton::right);
  range(0, 0);
  field->IsZeroAllowed = true;
  hl::mouse_down(edit, MouseButton::right);
  const auto& b = hl::boxes();
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].text, u"Allowed range:\n\rfrom: 1\n\rto: 50\r\n(value 0 not allowed)");
  EXPECT_EQ(b[0].caption, u"Allowed range");
  EXPECT_EQ(b[0].flags, 0x30u);
  EXPECT_EQ(b[0].owner, kForm);  // the field's parent
  EXPECT_EQ(b[1].text, u"Allowed range:\n\rno restrictions");
}

TEST_F(IntegerEdit, RangeHelpIsCutToItsBuffer) {
  svtest::use_string_lib("long");
  range(1, 50);
  hl::mouse_down(edit, MouseButton::right);
  ASSERT_EQ(hl::boxes().size(), 1u);
  std::u16string expected = u"Allowed range:\n\r" + std::u16string(200, u'F') + u"1\n\r" +
                            std::u16string(100, u'T') + u"50";
  EXPECT_EQ(hl::boxes()[0].text, expected.substr(0, 255));
}

// A character of two UTF-16 units stays whole when it ends at the 255th
// place, and goes when only its first unit would fit.
TEST_F(IntegerEdit, RangeHelpIsNeverCutThroughACharacter) {
  svtest::use_string_lib("pairs");
  const std::u16string pair = u"\U00010000";  // D800 DC00
  range(1, 50);
  hl::mouse_down(edit, MouseButton::right);
  range(0, 0);
  hl::mouse_down(edit, MouseButton::right);
  const auto& b = hl::boxes();
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].text, u"Allowed range:\n\r" + std::u16string(237, u'F') + pair);
  EXPECT_EQ(b[1].text, u"Allowed range:\n\r" + std::u16string(238, u'N'));
}

TEST_F(IntegerEdit, ErrorsFromTheLibraryAndItsMissingTexts) {
  sv::set_owner_window(0x4242);
  range(1, 50);
  const std::u16string kNotFound = u"String-Resource nicht gefunden!";
  struct {
    const char* lib;
    std::u16string text, caption, wrong_format;
  } cases[] = {{"full", u"Number too large", u"Error", u"Wrong number format"},
               {"no1553", u"Number too large", u"Error", kNotFound},
               {"no1002", kNotFound, u"Fehler", kNotFound},
               // 300 letters, cut to the 255 of the text's buffer
               {"long", std::u16string(255, u'L'), u"Error", u"Wrong number format"}};
  for (const auto& c : cases) {
    svtest::use_string_lib(c.lib);
    hl::clear_records();
    enter(u"99");
    leave();
    enter(u"x-");
    leave();
    ASSERT_EQ(hl::boxes().size(), 2u) << c.lib;
    EXPECT_EQ(hl::boxes()[0].text, c.text) << c.lib;
    EXPECT_EQ(hl::boxes()[0].caption, c.caption) << c.lib;
    EXPECT_EQ(hl::boxes()[0].flags, 0x30u);
    EXPECT_EQ(hl::boxes()[0].owner, 0x4242u);  // no dialog is active
    EXPECT_EQ(hl::boxes()[1].text, c.wrong_format) << c.lib;
  }
}

TEST_F(IntegerEdit, UnknownErrorCodesAreIgnored) {
  for (std::intptr_t code : {0, 5, -1}) edit.post(code);
  hl::pump();
  EXPECT_TRUE(hl::boxes().empty());
}

TEST_F(IntegerEdit, ExitEventRunsBeforeTheCheck) {
  range(1, 50);
  std::u16string text_at_exit;
  field->OnExit = [&](TIntegerEdit& f) { text_at_exit = f.Text(); };
  enter(u"99");
  leave();
  EXPECT_EQ(text_at_exit, u"99");
  EXPECT_EQ(field->Text(), u"0");
}

}  // namespace
