// The library's failure texts as the tests expect them (UTF-8), and a text
// as the host gets it: under Wine the tests run again under the host's
// ANSI code pages 932 and 1251 (SV_TEST_CODE_PAGE), which lack the umlauts
// and the sharp s and get "?" for them.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace svtest {

inline constexpr char kInvalidOp[] = "Ungültige Gleitkommaoperation";
inline constexpr char kOverflow[] = "Gleitkommaüberlauf";
inline constexpr char kRangeError[] = "Fehler bei Bereichsprüfung";
inline constexpr char kHostNotFound[] = "Socket Error # 11001\r\nHost not found.";
// The integer fields' boxes (UTF-16, as the dialog shows them).
inline constexpr char16_t kTooLarge[] = u"Zahlenwert zu gro\u00DF";
inline constexpr char16_t kInputsRange[] = u"Zul\u00E4ssiger Wertebereich:\n\rvon: 1\n\rbis: 50";

// The conversion error of a text that is no integer.
inline std::string not_an_integer(std::string_view text) {
  return "''" + std::string(text) + "'' ist kein gültiger Integer-Wert";
}

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
