// What a call failed with, as its text in UTF-8, or "" when nothing failed:
// a call inside the library, by the error it raised; a call of the linked
// exports, by the calling thread's record that GetLastFailureDLL reports.
#pragma once

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "udpsv_exports.h"

namespace svtest {

template <class Call>
std::string failure_of(Call&& call) {
  try {
    call();
  } catch (const sv::Error& e) {
    return sv::utf8(e.message());
  }
  return "";
}

inline std::string last_failure() {
  char text[512];
  return GetLastFailureDLL(text, sizeof text) > 0 ? text : "";
}

}  // namespace svtest
