// A private settings store for one test: natively a store in memory that
// the test program links in place of the platform's, under Wine the test
// prefix's own registry. Each store starts without the product key and is
// removed again afterwards.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace sv::test {

class ScopedStore {
 public:
  ScopedStore();
  ~ScopedStore();
  ScopedStore(const ScopedStore&) = delete;
  ScopedStore& operator=(const ScopedStore&) = delete;

  // Values of "General Settings", created with the key when needed.
  void set_string(std::u16string_view name, std::u16string_view text, bool expandable = false);
  void set_dword(std::u16string_view name, std::uint32_t value);
  void set_binary(std::u16string_view name, const std::vector<std::uint8_t>& data);
  // A subkey of the product key other than "General Settings".
  void create_other_subkey();

  bool product_key_exists() const;
  bool general_settings_exist() const;
};

}  // namespace sv::test
