#include "plugin/param_section.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "platform/fileio.h"
#include "platform/module_version.h"

namespace sv {
namespace {

constexpr std::size_t kLineBuffer = 1001;

void write_line(std::uint32_t handle, std::string line) {
  line += "\r\n";
  // The result is not looked at: a failed write goes unnoticed, as hosts
  // expect of this call.
  platform::file_write(handle, line.data(), static_cast<std::uint32_t>(line.size()));
}

// The address in ANSI, cut to what a line can hold so that every section
// written stays readable. No resolvable name comes near this length.
std::string address_line(const std::u16string& address) {
  std::string ansi = platform::to_ansi(address);
  if (ansi.size() <= kMaxWrittenLine) return ansi;
  std::size_t chars = address.size();
  if (chars > kMaxWrittenLine) chars = kMaxWrittenLine;
  do {
    ansi = platform::to_ansi(std::u16string_view(address).substr(0, chars--));
  } while (ansi.size() > kMaxWrittenLine);
  return ansi;
}

// Reads up to CR LF; the text is what comes before the CR, up to its first
// zero byte. Ends the load at end of file and at the end of the line buffer.
std::string read_line(std::uint32_t handle, int line_number) {
  char buf[kLineBuffer];
  std::size_t n = 0;
  for (;;) {
    if (n == kLineBuffer) {
      throw SectionFormatError(u"Zeile " + int_to_u16(line_number) +
                               u" des Parameterabschnitts ist länger als 999 Zeichen");
    }
    if (platform::file_read(handle, &buf[n], 1) != 1) {
      throw SectionFormatError(u"Unerwartetes Dateiende im Parameterabschnitt (Zeile " +
                               int_to_u16(line_number) + u" von 5)");
    }
    ++n;
    if (n >= 2 && buf[n - 2] == '\r' && buf[n - 1] == '\n') break;
  }
  std::string line(buf, n - 2);
  auto zero = line.find('\0');
  if (zero != std::string::npos) line.resize(zero);
  return line;
}

std::int32_t read_int_line(std::uint32_t handle, int line_number) {
  return str_to_int(platform::from_ansi(read_line(handle, line_number)));
}

}  // namespace

std::int32_t module_version_number() {
  auto version = platform::module_file_version();
  if (!version) throw Error(u"Die Versionsinformation des Moduls ist nicht lesbar");
  std::u16string digits;
  for (char16_t c : *version)
    if (c != u'.') digits += c;
  return str_to_int(digits);
}

void write_section(std::uint32_t handle, const TUserData& data) {
  // Everything that can fail is done before the first byte is written.
  const std::int32_t version = module_version_number();
  std::string address = address_line(data.IPAddress);
  write_line(handle, int_to_ascii(version));
  write_line(handle, std::move(address));
  write_line(handle, int_to_ascii(data.Port));
  write_line(handle, int_to_ascii(data.Inputs));
  write_line(handle, int_to_ascii(data.DataType));
}

void read_section(std::uint32_t handle, TUserData& data) {
  data.Version = read_int_line(handle, 1);
  data.IPAddress = platform::from_ansi(read_line(handle, 2));
  data.Port = read_int_line(handle, 3);
  data.Inputs = read_int_line(handle, 4);
  data.DataType = read_int_line(handle, 5);
}

}  // namespace sv
