#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/text.h"
#include "platform/posix/settings_store_file.h"
#include "store_fixture.h"

namespace sv::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProduct = "HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7";

fs::path g_dir;
std::string g_general;  // value lines of "General Settings", empty when absent
bool g_has_general = false;
bool g_has_other = false;

std::string file_path() { return (g_dir / "registry.reg").string(); }

std::string quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : utf8(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::string hex_list(const std::vector<std::uint8_t>& data) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    if (i) out += (i % 16 == 0) ? ",\\\r\n  " : ",";
    out += buf;
  }
  return out;
}

void write_store() {
  std::ofstream f(file_path(), std::ios::binary | std::ios::trunc);
  f << "Windows Registry Editor Version 5.00\r\n\r\n[" << kProduct << "]\r\n";
  if (g_has_general) f << "\r\n[" << kProduct << "\\General Settings]\r\n" << g_general;
  if (g_has_other)
    f << "\r\n[" << kProduct << "\\Other Settings]\r\n\"Tooltip Help\"=dword:00000001\r\n";
}

void add_line(std::u16string_view name, const std::string& data) {
  g_has_general = true;
  g_general += quote(name) + "=" + data + "\r\n";
  write_store();
}

platform::regfile::Store read_store() {
  std::ifstream f(file_path(), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  auto parsed = platform::regfile::parse(ss.str());
  return parsed.store.value_or(platform::regfile::Store{});
}

}  // namespace

ScopedStore::ScopedStore() {
  std::string tmpl = (fs::temp_directory_path() / "svstore-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) std::abort();
  g_dir = tmpl;
  g_general.clear();
  g_has_general = false;
  g_has_other = false;
  ::setenv("UDPSV_REGISTRY_FILE", file_path().c_str(), 1);
}

ScopedStore::~ScopedStore() {
  ::unsetenv("UDPSV_REGISTRY_FILE");
  std::error_code ec;
  fs::remove_all(g_dir, ec);
}

void ScopedStore::set_string(std::u16string_view name, std::u16string_view text, bool expandable) {
  if (!expandable) return add_line(name, quote(text));
  std::vector<std::uint8_t> data;
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  add_line(name, "hex(2):" + hex_list(data));
}

void ScopedStore::set_dword(std::u16string_view name, std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", value);
  add_line(name, std::string("dword:") + buf);
}

void ScopedStore::set_binary(std::u16string_view name, const std::vector<std::uint8_t>& data) {
  add_line(name, "hex:" + hex_list(data));
}

void ScopedStore::create_other_subkey() {
  g_has_other = true;
  write_store();
}

bool ScopedStore::product_key_exists() const { return read_store().exists(u16(kProduct)); }

bool ScopedStore::general_settings_exist() const {
  return read_store().exists(u16(kProduct) + u"\\General Settings");
}

}  // namespace sv::test
