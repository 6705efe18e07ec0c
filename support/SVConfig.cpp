#include "support/SVConfig.h"

#include <optional>

#include "base/errors.h"
#include "base/text.h"
#include "base/unit_counter.h"

namespace sv::svconfig {
namespace {

// Plain pointers: nothing here may depend on the order of static
// initialisation against the load hook, which runs the unit's init.
UnitCounter g_unit;
TSVOptions* g_options = nullptr;

// Closes a key on every way out, a raised registry error included.
class KeyHolder {
 public:
  explicit KeyHolder(platform::SettingsKey key) : key_(key) {}
  ~KeyHolder() {
    if (key_) platform::settings_close_key(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  platform::SettingsKey get() const { return key_; }

 private:
  platform::SettingsKey key_;
};

class Reader {
 public:
  explicit Reader(platform::SettingsKey product) : product_(product) {}

  // Each field opens the subkey afresh; without it the field keeps its default.
  std::u16string text(std::u16string_view name, const std::u16string& fallback) {
    KeyHolder sub(platform::settings_open_key(product_, kGeneralSettings));
    if (!sub.get()) return fallback;
    platform::SettingsValue v = platform::settings_query_value(sub.get(), name);
    if (!fallback.empty() && v.kind == platform::SettingsValue::Kind::missing) return fallback;
    return value_text(v, name);
  }

  std::int32_t integer(std::u16string_view name, std::int32_t fallback) {
    return parse_int32(text(name, {})).value_or(fallback);
  }

  bool boolean(std::u16string_view name, bool fallback) {
    return integer(name, fallback ? 1 : 0) != 0;
  }

  std::uint8_t byte(std::u16string_view name, std::uint8_t fallback) {
    return static_cast<std::uint8_t>(integer(name, fallback));
  }

 private:
  platform::SettingsKey product_;
};

}  // namespace

std::u16string value_text(const platform::SettingsValue& value, std::u16string_view name) {
  using Kind = platform::SettingsValue::Kind;
  switch (value.kind) {
    case Kind::missing: return {};
    case Kind::query_failed:
      throw RegistryError(replace_first(u"Fehler beim Holen der Daten für '%s'", u"%s", name));
    case Kind::string: return value.text;
    case Kind::other: break;
  }
  if (value.size == 0) return {};
  throw RegistryError(replace_first(u"Ungültiger Datentyp für '%s'", u"%s", name));
}

TSVOptions load_options() {
  TSVOptions o;
  const std::u16string temp_default = platform::temp_directory();

  KeyHolder product(platform::settings_create_user_key(kProductKey));
  Reader r(product.get());
  o.AutoInfoOpen = r.boolean(u"Auto Info Open", false);
  o.AutoInfoSave = r.boolean(u"Auto Info Save", true);
  o.DefaultUser = r.text(u"Default User", {});
  o.DefaultDepartment = r.text(u"Default Department", {});
  o.TempPath = r.text(u"Temp Path", temp_default);
  o.DefaultLineWidth = r.byte(u"Default Line Width", 2);
  o.DefaultGridMode = r.byte(u"Default Grid Mode", 0);
  o.DefaultFloatWidth = r.byte(u"Default Float Width", 16);
  o.DefaultFloatPrecision = r.byte(u"Default Float Precision", 12);
  o.DefaultFloatNotation = r.byte(u"Default Float Notation", 0);
  o.TooltipHelp = r.boolean(u"Tooltip Help", true);
  o.CreateBakFiles = r.boolean(u"Create Bak Files", false);
  for (std::size_t i = 0; i < o.DefaultColors.size(); ++i) {
    std::u16string name = u"Default Color " + int_to_u16(static_cast<std::int64_t>(i));
    o.DefaultColors[i] =
        static_cast<std::uint32_t>(r.integer(name, static_cast<std::int32_t>(kDefaultColors[i])));
  }
  return o;
}

const TSVOptions* options() { return g_options; }

void init() {
  if (!g_unit.begin_init()) return;
  g_options = new TSVOptions(load_options());
}

void fini() {
  if (!g_unit.begin_fini()) return;
  delete g_options;
  g_options = nullptr;
}

}  // namespace sv::svconfig
