#include <windows.h>

#include <string>

#include "store_fixture.h"

namespace sv::test {
namespace {

constexpr const wchar_t* kProduct = L"Software\\Haldeck\\Sorvane 7";
constexpr const wchar_t* kGeneral = L"Software\\Haldeck\\Sorvane 7\\General Settings";

std::wstring wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

void set_value(std::u16string_view name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kGeneral, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

bool key_exists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

ScopedStore::ScopedStore() { RegDeleteTreeW(HKEY_CURRENT_USER, kProduct); }

ScopedStore::~ScopedStore() { RegDeleteTreeW(HKEY_CURRENT_USER, kProduct); }

void ScopedStore::set_string(std::u16string_view name, std::u16string_view text, bool expandable) {
  std::wstring data = wide(text);
  set_value(name, expandable ? REG_EXPAND_SZ : REG_SZ, data.c_str(),
            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void ScopedStore::set_dword(std::u16string_view name, std::uint32_t value) {
  DWORD v = value;
  set_value(name, REG_DWORD, &v, sizeof v);
}

void ScopedStore::set_binary(std::u16string_view name, const std::vector<std::uint8_t>& data) {
  set_value(name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

void ScopedStore::create_other_subkey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Haldeck\\Sorvane 7\\Other Settings", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

bool ScopedStore::product_key_exists() const { return key_exists(kProduct); }

bool ScopedStore::general_settings_exist() const { return key_exists(kGeneral); }

}  // namespace sv::test
