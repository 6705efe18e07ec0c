// Natively there is no registry: the product key opens as an empty key,
// below which no subkey or value exists, so every setting takes its
// default. The tests link a store of their own in place of this one.
#include "platform/settings_store.h"

#include <cstdlib>

#include "base/text.h"

namespace sv::platform {
namespace {

// The one key there is; any value but 0 would do.
constexpr SettingsKey kEmptyKey = 1;

}  // namespace

SettingsKey settings_create_user_key(std::u16string_view) { return kEmptyKey; }

SettingsKey settings_open_key(SettingsKey, std::u16string_view) { return 0; }

void settings_close_key(SettingsKey) {}

SettingsValue settings_query_value(SettingsKey, std::u16string_view) { return {}; }

std::u16string temp_directory() {
  const char* dir = std::getenv("TMPDIR");
  return u16(dir && *dir ? dir : "/tmp");
}

}  // namespace sv::platform
