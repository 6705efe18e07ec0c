#include "support/SVString.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/string_lib.h"
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

// A text longer than its buffer: the library's lookup copies size - 1
// characters and a zero, LoadText one character less, and nothing lands
// on the guard after the buffer. Buffers too small for any character end
// up as empty text.
TEST_F(SVString, LoadTextLeavesRoomForOneCharacterLessThanTheBuffer) {
  svtest::use_string_lib("full");
  std::u16string text;  // id 9000: the alphabet over and over, 300 letters
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char16_t>(u'A' + i % 26));
  for (const int size : {256, 4, 2, 1}) {
    std::u16string buffer(size + 1, u'#');
    const int n = sv::platform::load_string(StringLibHandle(), 9000, buffer.data(), size);
    EXPECT_EQ(buffer, text.substr(0, size - 1) + u'\0' + u'#') << size << ", " << n;
    buffer.assign(size + 1, u'#');
    EXPECT_EQ(std::u16string(LoadText(9000, buffer.data(), size)),
              text.substr(0, size > 2 ? size - 2 : 0))
        << size;
    EXPECT_EQ(buffer.back(), u'#') << size;
  }
  EXPECT_EQ(GetText(9000), text.substr(0, 254));
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
// Malformed UTF-8 reads as U+FFFD.
TEST_F(SVString, TextsFileWithWindowsLineEnds) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("svstring-crlf-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "SVSTRING7.txt", std::ios::binary)
      << "# comment\r\n1553\tWrong number format\r\n\r\nno tab\r\n1554\tline\\r\\nbreak\r\n"
      << "0\tfirst\r\n65535\tlast\r\n65536\tbeyond\r\n-1\tbelow\r\n1555\tbad \xC3(\xE2\x82\r\n";
  svtest::use_string_lib("");
  fini();
  setenv("SV_STRINGLIB_DIR", dir.c_str(), 1);
  init();
  EXPECT_EQ(GetText(1553), u"Wrong number format");
  EXPECT_EQ(GetText(1554), u"line\r\nbreak");
  EXPECT_EQ(GetText(0), u"first");  // every id a string table can hold, and no other
  EXPECT_EQ(GetText(65535), u"last");
  EXPECT_EQ(GetText(0x10000), u"");
  EXPECT_EQ(GetText(1555), u"bad \uFFFD(\uFFFD");
  fs::remove_all(dir);
}

}  // namespace
