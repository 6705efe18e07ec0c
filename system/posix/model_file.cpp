#include "system/model_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "system/files.h"
#include "system/host_error.h"

namespace svhost {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw HostError(what + " " + path + ": " + std::strerror(errno));
}

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

ModelFile ModelFile::open_read(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("cannot open", path);
  return ModelFile(fd, path, false);
}

ModelFile ModelFile::create(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("cannot create", path);
  return ModelFile(fd, path, false);
}

ModelFile ModelFile::create_temporary() {
  std::string path = sv::files::temporary_folder() + "/svhost-XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) fail("cannot create temporary file", path);
  ::unlink(path.c_str());  // gone with its last descriptor
  return ModelFile(fd, path, true);
}

void ModelFile::write(const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(fd_of(handle_), p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot write", path_);
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
}

std::size_t ModelFile::read(void* data, std::size_t count) {
  ssize_t n;
  do {
    n = ::read(fd_of(handle_), data, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) fail("cannot read", path_);
  return static_cast<std::size_t>(n);
}

std::int64_t ModelFile::tell() const {
  off_t pos = ::lseek(fd_of(handle_), 0, SEEK_CUR);
  if (pos < 0) fail("cannot tell position in", path_);
  return pos;
}

void ModelFile::seek(std::int64_t position) {
  if (::lseek(fd_of(handle_), static_cast<off_t>(position), SEEK_SET) < 0)
    fail("cannot seek in", path_);
}

void ModelFile::close_handle() noexcept {
  if (handle_ >= 0) ::close(fd_of(handle_));
  handle_ = -1;
}

}  // namespace svhost
