// The store the native tests fill: the settings interface of the platform
// layer over a map in memory, linked into a test program in place of the
// platform's own, which has no values to give.
#include <map>
#include <string>

#include "platform/settings_store.h"
#include "store_fixture.h"

namespace sv {
namespace {

using Kind = platform::SettingsValue::Kind;

const std::u16string kProduct = u"Software\\Haldeck\\Sorvane 7";
const std::u16string kGeneral = kProduct + u"\\General Settings";

// Each key by its full path, with its values by name.
std::map<std::u16string, std::map<std::u16string, platform::SettingsValue>> g_keys;

// A key handle is its path, on the heap until the key is closed.
const std::u16string& path_of(platform::SettingsKey key) {
  return *reinterpret_cast<const std::u16string*>(key);
}
platform::SettingsKey handle(std::u16string path) {
  return reinterpret_cast<platform::SettingsKey>(new std::u16string(std::move(path)));
}

void set(std::u16string_view name, platform::SettingsValue value) {
  g_keys[kGeneral][std::u16string(name)] = std::move(value);
}

}  // namespace

namespace platform {

SettingsKey settings_create_user_key(std::u16string_view path) {
  g_keys[std::u16string(path)];
  return handle(std::u16string(path));
}

SettingsKey settings_open_key(SettingsKey parent, std::u16string_view name) {
  std::u16string path = path_of(parent) + u"\\" + std::u16string(name);
  return g_keys.count(path) ? handle(std::move(path)) : 0;
}

void settings_close_key(SettingsKey key) { delete &path_of(key); }

SettingsValue settings_query_value(SettingsKey key, std::u16string_view name) {
  const auto& values = g_keys.at(path_of(key));
  const auto it = values.find(std::u16string(name));
  return it == values.end() ? SettingsValue{} : it->second;
}

std::u16string temp_directory() { return u"/tmp/"; }

}  // namespace platform

namespace test {

ScopedStore::ScopedStore() { g_keys.clear(); }

ScopedStore::~ScopedStore() { g_keys.clear(); }

// As the registry reports them: the stored size counts the text's zero.
void ScopedStore::set_string(std::u16string_view name, std::u16string_view text, bool expandable) {
  set(name, {Kind::string, expandable, expandable ? 2u : 1u, (text.size() + 1) * 2,
             std::u16string(text)});
}

void ScopedStore::set_dword(std::u16string_view name, std::uint32_t) {
  set(name, {Kind::other, false, 4, 4, {}});
}

void ScopedStore::set_binary(std::u16string_view name, const std::vector<std::uint8_t>& data) {
  set(name, {Kind::other, false, 3, data.size(), {}});
}

// A wrongly typed value where the product does not look.
void ScopedStore::create_other_subkey() {
  g_keys[kProduct + u"\\Other Settings"][u"Tooltip Help"] = {Kind::other, false, 4, 4, {}};
}

bool ScopedStore::product_key_exists() const { return g_keys.count(kProduct) != 0; }

bool ScopedStore::general_settings_exist() const { return g_keys.count(kGeneral) != 0; }

}  // namespace test
}  // namespace sv
