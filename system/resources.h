// What the host process holds of the system, sampled by long runs to show
// that a plug-in's use stays flat, and what the benchmarks print beside
// their figures.
#pragma once

#include <cstdint>
#include <string>

namespace svhost {

struct ProcessResources {
  std::uint64_t private_kb = 0;  // private bytes (win32) or resident memory (native), in kB
  std::uint64_t handles = 0;     // open handles (win32) or file descriptors (native)
};

ProcessResources process_resources();

// Heap allocations of this process so far, the plug-in's included, or -1
// where they are not counted. Natively a program that asks brings its own
// malloc, which counts every call from the program's start.
long allocations();

// A short line about how busy the machine is, or empty.
std::string machine_load();

}  // namespace svhost
