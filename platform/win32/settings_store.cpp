#include "platform/settings_store.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"

namespace sv::platform {
namespace {

HKEY hkey(SettingsKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

SettingsKey settings_create_user_key(std::u16string_view path) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return rc == ERROR_SUCCESS ? reinterpret_cast<SettingsKey>(key) : 0;
}

SettingsKey settings_open_key(SettingsKey parent, std::u16string_view name) {
  if (!parent) return 0;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(hkey(parent), wide(name).c_str(), 0, KEY_ALL_ACCESS, &key);
  return rc == ERROR_SUCCESS ? reinterpret_cast<SettingsKey>(key) : 0;
}

void settings_close_key(SettingsKey key) {
  if (key) RegCloseKey(hkey(key));
}

SettingsValue settings_query_value(SettingsKey key, std::u16string_view name) {
  SettingsValue result;
  if (!key) return result;
  const std::wstring value_name = wide(name);

  DWORD type = 0;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(hkey(key), value_name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return result;
  if (rc != ERROR_SUCCESS) {
    result.kind = SettingsValue::Kind::query_failed;
    return result;
  }
  result.type = type;
  result.size = size;
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    result.kind = SettingsValue::Kind::other;
    return result;
  }
  result.kind = SettingsValue::Kind::string;
  result.expandable = type == REG_EXPAND_SZ;
  if (size == 0) return result;

  // Room for a missing terminator; a value that grew since the size was
  // asked for counts as one that cannot be read.
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, L'\0');
  DWORD got = size;
  rc = RegQueryValueExW(hkey(key), value_name.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(buf.data()), &got);
  if (rc != ERROR_SUCCESS) {
    result = SettingsValue{};
    result.kind = SettingsValue::Kind::query_failed;
    return result;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    result.kind = SettingsValue::Kind::other;
    result.type = type;
    return result;
  }
  result.size = got;
  for (std::size_t i = 0; i < got / sizeof(wchar_t) && buf[i] != L'\0'; ++i)
    result.text.push_back(static_cast<char16_t>(buf[i]));
  return result;
}

std::u16string temp_directory() {
  wchar_t buf[1000];
  DWORD n = GetTempPathW(1000, buf);
  if (n == 0 || n >= 1000) return {};  // failed, or the buffer was too small
  return std::u16string(buf, buf + n);
}

}  // namespace sv::platform
