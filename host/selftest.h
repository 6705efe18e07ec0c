// The self-test of udpsv-selftest: loads the plug-in as a host does and
// checks, line by line, what this PC does with it. Every line is a check
// that ends in "ok" or "FAILED", with what was seen, or in "skipped" when
// what it needs is missing, so that the report can go to support as it is.
#pragma once

#include <functional>
#include <string>

#include "system/selftest_system.h"

namespace svhost::selftest {

// "label: seen  ok", "... FAILED" or "... skipped", on one line.
std::string line_of(const Check& check);

struct Options {
  std::string plugin;         // the plug-in to check
  bool plugin_beside = true;  // the one beside the program, not one a user named
  std::string lookup;         // a name to look up as the plug-in does; empty for none
};

// Runs every check, handing each to `report` as soon as it is done. True
// when none failed. The x87 control word of the calling thread is as it was
// when this returns.
bool run(const Options& options, const std::function<void(const Check&)>& report);

}  // namespace svhost::selftest
