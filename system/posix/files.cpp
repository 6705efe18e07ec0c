#include "system/files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sv::files {

std::FILE* open(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string write_whole(const std::string& path, std::string_view text) {
  const std::string tmp = path + ".tmp." + std::to_string(::getpid());
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return std::strerror(errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int write_error = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    const int e = !written ? write_error : errno;
    std::remove(tmp.c_str());
    return std::strerror(e);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    std::remove(tmp.c_str());
    return std::strerror(e);
  }
  return {};
}

std::string temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

std::string chart_library_folder() { return SV_DYGRAPHS_DIR; }

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace sv::files
