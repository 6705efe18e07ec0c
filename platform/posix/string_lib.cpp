// Natively no host has a string-resource library: the library's texts are
// the German built-ins, unless $SV_STRINGLIB_DIR names a folder with a
// stand-in SVSTRING7.txt, as the tests' fixtures do. Its lines are
// "id<TAB>text" in UTF-8 ("\n", "\r", "\t" and "\\" are escapes; lines
// starting with "#" are comments). The table is read into memory at load.
#include "platform/string_lib.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "base/text.h"

namespace sv::platform {
namespace {

using Table = std::map<unsigned, std::u16string>;

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
  const char* dir = std::getenv("SV_STRINGLIB_DIR");
  if (!dir || !*dir) return 0;
  try {
    return reinterpret_cast<StringLib>(load_file(std::string(dir) + "/SVSTRING7.txt"));
  } catch (...) {
    return 0;  // a table that cannot be read counts as missing
  }
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
