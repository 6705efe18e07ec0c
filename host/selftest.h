// The self-test of udpsv-selftest: loads the plug-in as a host does and
// checks, line by line, what this PC does with it. Every line is a check
// that ends in "ok" or "FAILED", with what was seen, so that the report can
// go to support as it is.
#pragma once

#include <functional>
#include <string>

namespace svhost::selftest {

struct Check {
  std::string label;
  std::string seen;
  bool ok = false;
};

// "label: seen  ok" or "label: seen  FAILED", on one line.
std::string line_of(const Check& check);

// Runs every check against the plug-in at `plugin_path`, handing each to
// `report` as soon as it is done. True when every check holds. The x87
// control word of the calling thread is as it was when this returns.
bool run(const std::string& plugin_path, const std::function<void(const Check&)>& report);

}  // namespace svhost::selftest
