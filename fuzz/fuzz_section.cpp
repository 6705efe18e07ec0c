// A model file section read from a real file: whatever the bytes, reading
// never over-reads, and a section that reads writes back to the same fields.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "plugin/param_section.h"

namespace {

int file_with(const std::uint8_t* data, std::size_t size) {
  int fd = memfd_create("section", 0);
  if (fd < 0) std::abort();
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  lseek(fd, 0, SEEK_SET);
  return fd;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fd = file_with(data, size);
  sv::TUserData d;
  bool read_ok = true;
  try {
    sv::read_section(static_cast<std::uint32_t>(fd), d);
  } catch (const sv::Error&) {
    read_ok = false;
  }
  const off_t consumed = lseek(fd, 0, SEEK_CUR);
  check(consumed >= 0 && static_cast<std::size_t>(consumed) <= size);
  close(fd);
  if (!read_ok) return 0;

  // The section ended with CR LF exactly where the reader stopped.
  check(consumed >= 10 && data[consumed - 2] == '\r' && data[consumed - 1] == '\n');
  check(d.IPAddress.size() <= sv::kMaxReadLine);

  int out = memfd_create("again", 0);
  sv::write_section(static_cast<std::uint32_t>(out), d);
  lseek(out, 0, SEEK_SET);
  sv::TUserData back;
  sv::read_section(static_cast<std::uint32_t>(out), back);  // must not throw
  check(lseek(out, 0, SEEK_CUR) == lseek(out, 0, SEEK_END));
  close(out);
  check(back.Port == d.Port && back.Inputs == d.Inputs && back.DataType == d.DataType);
  check(back.Version == sv::module_version_number());
  // Only an address longer than a written line can hold comes back shorter.
  if (d.IPAddress.size() <= sv::kMaxWrittenLine) check(back.IPAddress == d.IPAddress);
  else check(d.IPAddress.compare(0, back.IPAddress.size(), back.IPAddress) == 0);
  return 0;
}
