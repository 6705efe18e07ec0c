// The host's ANSI code page that a test run stands for (SV_TEST_CODE_PAGE,
// set for the Wine runs under 932 and 1251), and a German text as such a
// host gets it: 932 and 1251 lack the umlauts and the sharp s, sent as "?".
#pragma once

#include <cstdlib>
#include <string>

namespace svtest {

inline int code_page() {
  const char* cp = std::getenv("SV_TEST_CODE_PAGE");
  return cp ? std::atoi(cp) : 1252;
}

inline std::string as_host_gets(std::string utf8) {
  for (const char* letter : {"\u00C4", "\u00D6", "\u00DC", "\u00E4", "\u00F6", "\u00FC", "\u00DF"})
    for (std::size_t at; code_page() != 1252 && (at = utf8.find(letter)) != std::string::npos;)
      utf8.replace(at, 2, "?");
  return utf8;
}

}  // namespace svtest
