// What the files service does the same on every platform.
#include "system/files.h"

#include "system/dynlib.h"

namespace sv::files {

std::optional<std::string> read_whole(const std::string& path) {
  std::FILE* f = open(path, "rb");
  if (!f) return std::nullopt;
  std::string content;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) content.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return content;
}

std::string program_folder() {
  namespace dynlib = svhost::dynlib;
  const std::string path = dynlib::executable_path();
  const std::size_t cut = path.find_last_of(dynlib::path_separators());
  return cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
}

}  // namespace sv::files
