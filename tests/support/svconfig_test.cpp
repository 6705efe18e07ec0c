#include "support/SVConfig.h"

#include <array>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "platform/settings_store.h"
#include "store_fixture.h"
#include "tests/common/failure.h"

namespace sv {
namespace {

using svconfig::load_options;
using svconfig::TSVOptions;
using svtest::failure_of;

void expect_defaults(const TSVOptions& o) {
  EXPECT_FALSE(o.AutoInfoOpen);
  EXPECT_TRUE(o.AutoInfoSave);
  EXPECT_EQ(o.DefaultUser, u"");
  EXPECT_EQ(o.DefaultDepartment, u"");
  EXPECT_EQ(o.TempPath, platform::temp_directory());
  EXPECT_EQ(o.DefaultLineWidth, 2);
  EXPECT_EQ(o.DefaultGridMode, 0);
  EXPECT_EQ(o.DefaultFloatWidth, 16);
  EXPECT_EQ(o.DefaultFloatPrecision, 12);
  EXPECT_EQ(o.DefaultFloatNotation, 0);
  EXPECT_TRUE(o.TooltipHelp);
  EXPECT_FALSE(o.CreateBakFiles);
  const std::array<std::uint32_t, 16> colors = {
      0x000000, 0xFF0000, 0x800080, 0x008000, 0x808000, 0x000080, 0x0000FF, 0x008080,
      0x00FFFF, 0x800000, 0x808080, 0x00FF00, 0xFFFF00, 0xFF00FF, 0xC0C0C0, 0xFFFFFF};
  EXPECT_EQ(o.DefaultColors, colors);
}

TEST(SVConfig, MissingProductKeyIsCreatedEmptyAndEveryFieldHasItsDefault) {
  test::ScopedStore store;
  ASSERT_FALSE(store.product_key_exists());
  TSVOptions o = load_options();
  EXPECT_TRUE(store.product_key_exists());
  EXPECT_FALSE(store.general_settings_exist());
  EXPECT_FALSE(platform::temp_directory().empty());
  expect_defaults(o);
}

TEST(SVConfig, ValuesOutsideGeneralSettingsAreNotRead) {
  test::ScopedStore store;
  store.create_other_subkey();  // holds a wrongly typed "Tooltip Help"
  expect_defaults(load_options());
}

TEST(SVConfig, NumbersAndBooleansAreDecimalText) {
  test::ScopedStore store;
  store.set_string(u"Default Line Width", u"300");
  store.set_string(u"Tooltip Help", u"0");
  store.set_string(u"Auto Info Save", u"abc");
  store.set_string(u"Auto Info Open", u"7");
  store.set_string(u"Create Bak Files", u"-1", true);
  store.set_string(u"Default Float Width", u"");
  store.set_string(u"Default Float Precision", u"12abc");
  store.set_string(u"Default Grid Mode", u"-2");
  store.set_string(u"Default Color 3", u"255");
  store.set_string(u"Default Color 15", u"-1");
  TSVOptions o = load_options();
  EXPECT_EQ(o.DefaultLineWidth, 44);  // low byte of 300
  EXPECT_FALSE(o.TooltipHelp);
  EXPECT_TRUE(o.AutoInfoSave);  // not a number: the default
  EXPECT_TRUE(o.AutoInfoOpen);
  EXPECT_TRUE(o.CreateBakFiles);
  EXPECT_EQ(o.DefaultFloatWidth, 16);
  EXPECT_EQ(o.DefaultFloatPrecision, 12);
  EXPECT_EQ(o.DefaultGridMode, 254);
  EXPECT_EQ(o.DefaultColors[3], 255u);
  EXPECT_EQ(o.DefaultColors[15], 0xFFFFFFFFu);
  EXPECT_EQ(o.DefaultColors[4], 0x808000u);
}

TEST(SVConfig, TextsAndTempPath) {
  {
    test::ScopedStore store;
    store.set_string(u"Default User", u"Anna \"A\" Müller");
    store.set_string(u"Default Department", u"%DEPT%\\Entwicklung", true);
    store.set_string(u"Temp Path", u"D:\\Temp\\");
    TSVOptions o = load_options();
    EXPECT_EQ(o.DefaultUser, u"Anna \"A\" Müller");
    EXPECT_EQ(o.DefaultDepartment, u"%DEPT%\\Entwicklung");  // not expanded
    EXPECT_EQ(o.TempPath, u"D:\\Temp\\");
  }
  {
    // A Temp Path that exists but is empty stays empty.
    test::ScopedStore store;
    store.set_string(u"Temp Path", u"");
    EXPECT_EQ(load_options().TempPath, u"");
  }
}

TEST(SVConfig, ValueOfAnotherTypeRaisesUnlessItHasNoData) {
  {
    test::ScopedStore store;
    store.set_dword(u"Default Grid Mode", 3);
    EXPECT_EQ(failure_of(load_options), "Ungültiger Datentyp für 'Default Grid Mode'");
  }
  {
    test::ScopedStore store;
    store.set_binary(u"Temp Path", {0x41, 0x00});
    EXPECT_EQ(failure_of(load_options), "Ungültiger Datentyp für 'Temp Path'");
  }
  {
    test::ScopedStore store;
    store.set_binary(u"Default User", {});
    store.set_binary(u"Default Line Width", {});
    TSVOptions o = load_options();
    EXPECT_EQ(o.DefaultUser, u"");
    EXPECT_EQ(o.DefaultLineWidth, 2);
  }
}

TEST(SVConfig, ValueThatCannotBeQueriedRaises) {
  platform::SettingsValue failed;
  failed.kind = platform::SettingsValue::Kind::query_failed;
  EXPECT_EQ(failure_of([&] { svconfig::value_text(failed, u"Tooltip Help"); }),
            "Fehler beim Holen der Daten für 'Tooltip Help'");
}

TEST(SVConfig, InitHoldsTheRecordUntilFini) {
  test::ScopedStore store;
  store.set_string(u"Default User", u"Anna");
  EXPECT_EQ(svconfig::options(), nullptr);
  svconfig::init();
  ASSERT_NE(svconfig::options(), nullptr);
  EXPECT_EQ(svconfig::options()->DefaultUser, u"Anna");
  svconfig::init();  // the unit's work runs once
  svconfig::fini();
  EXPECT_NE(svconfig::options(), nullptr);
  svconfig::fini();
  EXPECT_EQ(svconfig::options(), nullptr);
}

}  // namespace
}  // namespace sv
