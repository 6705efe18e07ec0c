// The host emulator's own failures: a library that cannot be loaded, a model
// file that cannot be read, a bad command-line value. Failures of the
// plug-in's exports are not exceptions; they come back as CallResult.
#pragma once

#include <stdexcept>
#include <string>

namespace svhost {

class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace svhost
