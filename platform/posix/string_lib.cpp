// The native stand-in for the host's string-resource library: a UTF-8 text
// file SVSTRING7.txt of "id<TAB>text" lines ("\n", "\r", "\t" and "\\" are
// escapes; lines starting with "#" are comments). A host that has loaded a
// shared object SVSTRING7.so gets the table beside it, as a Windows host's
// loaded SVSTRING7.DLL is used; otherwise the file is looked for in
// $SV_STRINGLIB_DIR alone when that is set, else next to the host program
// and then in /usr/share/sorvane7 - never in the current directory. The
// table is read into memory, so nothing the host unloads can take it away.
#include "platform/string_lib.h"

#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"

namespace sv::platform {
namespace {

using Table = std::map<unsigned, std::u16string>;

constexpr const char* kFileName = "SVSTRING7.txt";
constexpr const char* kSystemDir = "/usr/share/sorvane7";

std::string program_dir() {
  std::vector<char> path(4096);
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  std::string p(path.data(), static_cast<std::size_t>(n));
  auto slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

// The folder of a loaded SVSTRING7.so, or empty when the host loaded none.
std::string host_library_dir() {
  std::string dir;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) {
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        const auto slash = path.rfind('/');
        if (slash == std::string::npos ||
            path.compare(slash + 1, std::string::npos, "SVSTRING7.so") != 0)
          return 0;
        *static_cast<std::string*>(out) = path.substr(0, slash);
        return 1;
      },
      &dir);
  return dir;
}

std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out.push_back(s[i]);
      continue;
    }
    char c = s[++i];
    out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  }
  return out;
}

Table* load_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  auto table = std::make_unique<Table>();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    auto id = parse_int32(u16(line.substr(0, tab)));
    if (!id || *id < 0 || *id > 0xFFFF) continue;
    (*table)[static_cast<unsigned>(*id)] = u16(unescape(line.substr(tab + 1)));
  }
  return table.release();
}

}  // namespace

StringLib load_string_lib() {
  std::vector<std::string> dirs;
  if (auto d = host_library_dir(); !d.empty()) dirs.push_back(d);
  if (const char* dir = std::getenv("SV_STRINGLIB_DIR")) {
    dirs.emplace_back(dir);
  } else {
    if (auto d = program_dir(); !d.empty()) dirs.push_back(d);
    dirs.emplace_back(kSystemDir);
  }
  for (const auto& dir : dirs) {
    // A relative folder would name the current directory.
    if (dir.empty() || dir[0] != '/') continue;
    try {
      if (Table* t = load_file(dir + "/" + kFileName)) return reinterpret_cast<StringLib>(t);
    } catch (...) {
      // A library that cannot be read counts as missing.
    }
  }
  return 0;
}

void free_string_lib(StringLib lib) { delete reinterpret_cast<Table*>(lib); }

int load_string(StringLib lib, unsigned id, char16_t* buffer, int room) {
  if (room < 1) return 0;
  buffer[0] = 0;
  if (!lib) return 0;
  const auto& table = *reinterpret_cast<const Table*>(lib);
  auto it = table.find(id);
  if (it == table.end()) return 0;
  int n = static_cast<int>(
      std::min<std::size_t>(it->second.size(), static_cast<std::size_t>(room - 1)));
  it->second.copy(buffer, static_cast<std::size_t>(n));
  buffer[n] = 0;
  return n;
}

}  // namespace sv::platform
