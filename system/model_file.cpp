// The portable part of ModelFile; opening, reading, writing and positioning
// are the platform's (posix/ and win32/).
#include "system/model_file.h"

#include "system/host_error.h"

namespace svhost {

ModelFile::ModelFile(ModelFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), temporary_(other.temporary_) {
  other.handle_ = -1;
}

ModelFile& ModelFile::operator=(ModelFile&& other) noexcept {
  if (this != &other) {
    close_handle();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    temporary_ = other.temporary_;
    other.handle_ = -1;
  }
  return *this;
}

ModelFile::~ModelFile() { close_handle(); }

void ModelFile::close() { close_handle(); }

bool ModelFile::read_line(std::string* line, std::size_t max_length) {
  line->clear();
  char c;
  // Byte by byte, so the position ends right after the LF for the plug-in.
  while (read(&c, 1) == 1) {
    line->push_back(c);
    if (line->size() >= 2 && (*line)[line->size() - 2] == '\r' && c == '\n') {
      line->resize(line->size() - 2);
      return true;
    }
    if (line->size() > max_length + 2) throw HostError(path_ + ": line too long");
  }
  if (line->empty()) return false;
  throw HostError(path_ + ": last line does not end in CR LF");
}

std::string ModelFile::read_rest() {
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = read(buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

}  // namespace svhost
