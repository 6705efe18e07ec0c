#include "platform/fileio.h"

#include <unistd.h>

#include <cerrno>

namespace sv::platform {

std::int32_t file_write(std::uint32_t handle, const void* data, std::uint32_t count) {
  const char* p = static_cast<const char*>(data);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(static_cast<int>(handle), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done ? static_cast<std::int32_t>(done) : -1;
    }
    done += static_cast<std::uint32_t>(n);
  }
  return static_cast<std::int32_t>(done);
}

std::int32_t file_read(std::uint32_t handle, void* data, std::uint32_t count) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle), data, count);
  } while (n < 0 && errno == EINTR);
  return static_cast<std::int32_t>(n);
}

}  // namespace sv::platform
