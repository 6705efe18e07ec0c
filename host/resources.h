// Platform service: what the host process holds of the system, sampled by
// long runs to show that a plug-in's use stays flat. Implemented in
// host/<platform>/resources.cpp.
#pragma once

#include <cstdint>

namespace svhost {

struct ProcessResources {
  std::uint64_t private_kb = 0;  // private bytes (win32) or resident memory (native), in kB
  std::uint64_t handles = 0;     // open handles (win32) or file descriptors (native)
};

ProcessResources process_resources();

}  // namespace svhost
