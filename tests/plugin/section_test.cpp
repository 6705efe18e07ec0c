// The parameter section on real files, for what the exported round trips in
// the contract tests do not reach: code page, long lines and cut addresses.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fileio.h"
#include "plugin/param_section.h"
#include "system/model_file.h"
#include "tests/common/failure.h"

namespace {

using svhost::ModelFile;

// The file's whole text; the position goes back to its start.
std::string contents(ModelFile& f) {
  f.seek(0);
  std::string text = f.read_rest();
  f.seek(0);
  return text;
}

// A file that holds the text, read from its start.
ModelFile file_with(const std::string& text) {
  ModelFile f = ModelFile::create_temporary();
  f.write(text);
  f.seek(0);
  return f;
}

TEST(Section, AddressIsWrittenInTheAnsiCodePage) {
  ModelFile f = ModelFile::create_temporary();
  sv::TUserData d;
  d.IPAddress = u"h\u00FCst-\u20AC-\u4E2D";  // ü and € exist in 1252, the CJK letter does not
  d.Port = -5;
  sv::write_section(f.handle(), d);
  EXPECT_EQ(contents(f), "10067\r\nh\xFCst-\x80-?\r\n-5\r\n1\r\n0\r\n");
  f.seek(0);
  sv::TUserData back;
  sv::read_section(f.handle(), back);
  EXPECT_EQ(back.IPAddress, u"h\u00FCst-\u20AC-?");
  EXPECT_EQ(back.Port, -5);
  EXPECT_EQ(back.Version, 10067);
}

TEST(Section, OverlongAddressIsCutSoTheSectionStaysReadable) {
  ModelFile f = ModelFile::create_temporary();
  sv::TUserData d;
  d.IPAddress = std::u16string(1500, u'a');
  d.Inputs = 7;
  sv::write_section(f.handle(), d);
  // The host's line buffer of 1001 bytes holds 998 of text, CR, LF and a zero.
  const std::string text = contents(f);
  const std::size_t line = text.find("\r\n") + 2;
  EXPECT_EQ(text.find("\r\n", line) - line, 998u);
  f.seek(0);
  sv::TUserData back;
  sv::read_section(f.handle(), back);
  EXPECT_EQ(back.IPAddress, std::u16string(998, u'a'));
  EXPECT_EQ(back.Inputs, 7);
}

TEST(Section, LineLengthLimits) {
  const std::string tail = "\r\n1600\r\n1\r\n0\r\n";
  ModelFile f = file_with("1\r\n" + std::string(999, 'b') + tail);
  sv::TUserData d;
  sv::read_section(f.handle(), d);
  EXPECT_EQ(d.IPAddress.size(), 999u);
  EXPECT_EQ(d.Port, 1600);
}

// A failure names the line it met, and the lines before it are taken.
TEST(Section, AFailureNamesItsLine) {
  std::string before;
  int n = 0;
  for (const char* line : {"10067", "recv", "1601", "3", "2"}) {
    const std::string at = std::to_string(++n);
    for (const auto& [file, text] :
         {std::pair{before + line + "\r",
                    "Unerwartetes Dateiende im Parameterabschnitt (Zeile " + at + " von 5)"},
          std::pair{before + std::string(1000, '7') + "\r\n",
                    "Zeile " + at + " des Parameterabschnitts ist länger als 999 Zeichen"}}) {
      ModelFile f = file_with(file);
      sv::TUserData d;
      EXPECT_EQ(svtest::failure_of([&] { sv::read_section(f.handle(), d); }), text);
      EXPECT_EQ(d.Inputs, n > 4 ? 3 : 1);  // the lines before it are taken
    }
    before += line + std::string("\r\n");
  }
}

TEST(Section, ZeroByteEndsTheLineText) {
  ModelFile f = file_with(std::string("10067\r\nabc\0def\r\n12\0 9\r\n1\r\n0\r\nNEXT", 33));
  sv::TUserData d;
  sv::read_section(f.handle(), d);
  EXPECT_EQ(d.IPAddress, u"abc");
  EXPECT_EQ(d.Port, 12);
  EXPECT_EQ(f.tell(), 29);  // directly after the section
}

TEST(Section, WritesFiveLinesAndNothingElse) {
  ModelFile f = ModelFile::create_temporary();
  sv::TUserData d;
  d.IPAddress.clear();
  d.Port = INT32_MIN;
  d.Inputs = 0;
  d.DataType = -1;
  sv::write_section(f.handle(), d);
  EXPECT_EQ(contents(f), "10067\r\n\r\n-2147483648\r\n0\r\n-1\r\n");
}

// The host file's byte I/O reports the bytes it moved: all of them, those
// a pipe took before it was full, 0 at the end of the file, -1 on failure.
TEST(SectionFileIo, ReportsTheBytesItMoved) {
  ModelFile f = ModelFile::create_temporary();
  EXPECT_EQ(sv::platform::file_write(f.handle(), "abcdef", 6), 6);
  EXPECT_EQ(sv::platform::file_write(f.handle(), "", 0), 0);
  f.seek(0);
  char buf[8] = {};
  EXPECT_EQ(sv::platform::file_read(f.handle(), buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(sv::platform::file_read(f.handle(), buf, 8), 2);
  EXPECT_EQ(sv::platform::file_read(f.handle(), buf, 8), 0);

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
  const std::string big(4 * 1024 * 1024, 'x');  // more than any pipe holds
  const std::int32_t written = sv::platform::file_write(
      static_cast<std::uint32_t>(ends[1]), big.data(), static_cast<std::uint32_t>(big.size()));
  ::close(ends[1]);
  std::size_t drained = 0;
  std::vector<char> chunk(65536);
  for (ssize_t n; (n = ::read(ends[0], chunk.data(), chunk.size())) > 0;)
    drained += static_cast<std::size_t>(n);
  ::close(ends[0]);
  EXPECT_GT(written, 0);
  EXPECT_EQ(static_cast<std::size_t>(written), drained)
      << "the count differs from what the pipe holds";

  EXPECT_EQ(sv::platform::file_write(static_cast<std::uint32_t>(ends[1]), "a", 1), -1);
  EXPECT_EQ(sv::platform::file_read(static_cast<std::uint32_t>(ends[0]), buf, 1), -1);
}

}  // namespace
