// Loads one of the fixture string-resource libraries (or none) for a test.
#pragma once

#include <cstdlib>
#include <string>

#include "support/SVString.h"

namespace svtest {

// variant: "full", "no1553", "no1002", "long", "pairs", or "" for no library at all.
// The unit counts its init and fini calls, so they are kept balanced here.
inline void use_string_lib(const std::string& variant) {
  static bool loaded = false;
  if (loaded) sv::svstring::fini();
  loaded = true;
  std::string dir = std::string(SV_STRING_FIXTURES) + "/" + (variant.empty() ? "absent" : variant);
  setenv("SV_STRINGLIB_DIR", dir.c_str(), 1);
  sv::svstring::init();
}

}  // namespace svtest
