// The native settings store: a file in the registry editor's text format
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Haldeck\Sorvane 7\General Settings]
//   "Default Line Width"="300"
//   "Temp Path"=hex(2):2f,00,74,00,6d,00,70,00,00,00
//   "Default Color 1"=dword:00ff0000
//
// so that values keep their registry types. The parser takes the file's
// bytes and never reads past them; anything it does not understand makes
// the whole store invalid rather than half-read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sv::platform::regfile {

inline constexpr std::uint32_t kString = 1;
inline constexpr std::uint32_t kExpandString = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;

// Larger files are refused rather than read.
inline constexpr std::size_t kMaxFileSize = 16u << 20;

struct Value {
  std::u16string name;  // empty for the key's default value ("@")
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;  // as the registry holds it: strings UTF-16LE with their zero
};

struct Key {
  std::u16string path;  // full path, root included, e.g. HKEY_CURRENT_USER\Software
  std::vector<Value> values;
};

struct Store {
  std::vector<Key> keys;

  // Names compare without regard to ASCII case, as the registry's do.
  const Key* find(std::u16string_view path) const;
  // A key exists when it is listed or lies above a listed key.
  bool exists(std::u16string_view path) const;
};

const Value* find_value(const Key& key, std::u16string_view name);

struct ParseResult {
  std::optional<Store> store;  // empty on error
  std::size_t error_line = 0;  // 1-based; 0 when the file as a whole is refused
  std::string error;
};

// The file's bytes: UTF-8 (with or without a byte order mark) or UTF-16LE
// with its byte order mark, the way the registry editor exports.
ParseResult parse(std::string_view bytes);

// Where the store lives: $UDPSV_REGISTRY_FILE, else
// $XDG_CONFIG_HOME/udpsv2simulink/registry.reg, else
// ~/.config/udpsv2simulink/registry.reg. Empty when there is no home.
std::string store_path();

}  // namespace sv::platform::regfile
