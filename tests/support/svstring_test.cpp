#include "support/SVString.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "string_lib.h"

namespace {

using namespace sv::svstring;

class SVString : public ::testing::Test {
 protected:
  void TearDown() override { svtest::use_string_lib(""); }
};

TEST_F(SVString, WithoutTheLibraryTheHandleIsZeroAndTextsAreEmpty) {
  svtest::use_string_lib("");
  EXPECT_EQ(StringLibHandle(), 0u);
  EXPECT_EQ(GetText(1553), u"");
  fini();  // unloading after a failed load is harmless
  init();
  EXPECT_EQ(StringLibHandle(), 0u);
}

TEST_F(SVString, FetchesTextsByIdAndEmptyForUnknownIds) {
  svtest::use_string_lib("full");
  ASSERT_NE(StringLibHandle(), 0u);
  EXPECT_EQ(GetText(1553), u"Wrong number format");
  EXPECT_EQ(GetText(1316), u"from: ");
  EXPECT_EQ(GetText(4711), u"");
}

TEST_F(SVString, LoadTextLeavesRoomForOneCharacterLessThanTheBuffer) {
  svtest::use_string_lib("full");
  char16_t buffer[256];
  std::u16string got = LoadText(9000, buffer, 256);
  ASSERT_EQ(got.size(), 254u);  // of 300
  EXPECT_EQ(got[0], u'A');
  EXPECT_EQ(got[253], u'A' + 253 % 26);
  EXPECT_EQ(GetText(9000).size(), 254u);

  EXPECT_EQ(std::u16string(LoadText(1002, buffer, 4)), u"Er");
  // Buffers too small for any character still end up as empty text.
  buffer[0] = u'x';
  EXPECT_EQ(std::u16string(LoadText(1002, buffer, 2)), u"");
  buffer[0] = u'x';
  EXPECT_EQ(std::u16string(LoadText(1002, buffer, 1)), u"");
}

TEST_F(SVString, InitAndFiniDoTheirWorkOnce) {
  svtest::use_string_lib("full");
  auto handle = StringLibHandle();
  init();  // a second init changes nothing, nor does its fini
  EXPECT_EQ(StringLibHandle(), handle);
  fini();
  EXPECT_EQ(StringLibHandle(), handle);
  fini();
  EXPECT_EQ(StringLibHandle(), 0u);
  init();
}

// A texts file saved by a Windows editor: its line ends are not part of
// the texts, nor are comments, lines without a tab or ids out of range.
TEST_F(SVString, TextsFileWithWindowsLineEnds) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("svstring-crlf-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "SVSTRING7.txt", std::ios::binary)
      << "# comment\r\n1553\tWrong number format\r\n\r\nno tab\r\n1554\tline\\r\\nbreak\r\n"
      << "0\tfirst\r\n65535\tlast\r\n65536\tbeyond\r\n-1\tbelow\r\n";
  svtest::use_string_lib("");
  fini();
  setenv("SV_STRINGLIB_DIR", dir.c_str(), 1);
  init();
  EXPECT_EQ(GetText(1553), u"Wrong number format");
  EXPECT_EQ(GetText(1554), u"line\r\nbreak");
  EXPECT_EQ(GetText(0), u"first");  // every id a string table can hold, and no other
  EXPECT_EQ(GetText(65535), u"last");
  EXPECT_EQ(GetText(0x10000), u"");
  fs::remove_all(dir);
}

}  // namespace
