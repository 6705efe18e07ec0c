// SVConfig: the host-wide settings read at load.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace sv::svconfig {

inline constexpr std::u16string_view kProductKey = u"Software\\Haldeck\\Sorvane 7";
inline constexpr std::u16string_view kGeneralSettings = u"General Settings";

// Windows colour values, 0x00BBGGRR.
inline constexpr std::array<std::uint32_t, 16> kDefaultColors = {
    0x000000, 0xFF0000, 0x800080, 0x008000, 0x808000, 0x000080, 0x0000FF, 0x008080,
    0x00FFFF, 0x800000, 0x808080, 0x00FF00, 0xFFFF00, 0xFF00FF, 0xC0C0C0, 0xFFFFFF};

// The product-wide preferences, in the order they are read.
struct TSVOptions {
  bool AutoInfoOpen = false;
  bool AutoInfoSave = true;
  std::u16string DefaultUser;
  std::u16string DefaultDepartment;
  std::u16string TempPath;
  std::uint8_t DefaultLineWidth = 2;
  std::uint8_t DefaultGridMode = 0;
  std::uint8_t DefaultFloatWidth = 16;
  std::uint8_t DefaultFloatPrecision = 12;
  std::uint8_t DefaultFloatNotation = 0;
  bool TooltipHelp = true;
  bool CreateBakFiles = false;
  std::array<std::uint32_t, 16> DefaultColors = kDefaultColors;
};

// Reads the settings, creating the product key when it is missing. Raises
// RegistryError for a value of the wrong type or one that cannot be read.
TSVOptions load_options();

// The text a string-typed read gives for a queried value: empty when the
// value is missing or has no data; RegistryError otherwise.
std::u16string value_text(const platform::SettingsValue& value, std::u16string_view name);

// The library-wide record; null before init and after fini.
const TSVOptions* options();

void init();
void fini();

}  // namespace sv::svconfig
