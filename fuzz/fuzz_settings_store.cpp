// The native settings store's parser: any bytes either parse or fail with a
// line, and a parsed store's keys and value names are unique.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/settings_store_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sv::platform::regfile::ParseResult r = sv::platform::regfile::parse(bytes);
  if (r.store.has_value() == !r.error.empty()) std::abort();
  if (!r.store) return 0;
  for (const auto& key : r.store->keys) {
    if (key.path.empty() || !r.store->exists(key.path) || r.store->find(key.path) != &key)
      std::abort();
    if (key.path.back() == u'\\') std::abort();
    for (const auto& v : key.values)
      if (sv::platform::regfile::find_value(key, v.name) != &v) std::abort();  // names unique
  }
  return 0;
}
