// The user's settings store: the registry under HKEY_CURRENT_USER on win32;
// natively one empty key, so that every setting takes its default. Keys are
// opaque handles; 0 means "no key". Every opening asks for full access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sv::platform {

using SettingsKey = std::uintptr_t;

// Opens the key at this path below HKEY_CURRENT_USER, creating it (and its
// parents) when missing. 0 when it can be neither opened nor created.
SettingsKey settings_create_user_key(std::u16string_view path);

// Opens an existing subkey of an open key; 0 when it does not exist or
// cannot be opened.
SettingsKey settings_open_key(SettingsKey parent, std::u16string_view name);

void settings_close_key(SettingsKey key);

struct SettingsValue {
  enum class Kind {
    missing,       // no value of that name
    string,        // a plain or expandable string value
    other,         // any other value type
    query_failed,  // the value exists but its data could not be read
  };
  Kind kind = Kind::missing;
  bool expandable = false;  // string: stored as an expandable string
  std::uint32_t type = 0;   // the registry type code (1 string, 2 expandable, 4 dword...)
  std::size_t size = 0;     // the stored data's size in bytes
  std::u16string text;      // string: the text up to its first zero
};

SettingsValue settings_query_value(SettingsKey key, std::u16string_view name);

// The system's directory for temporary files; empty when it cannot be had.
std::u16string temp_directory();

}  // namespace sv::platform
