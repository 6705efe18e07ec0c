#include "host/resources.h"

#include <windows.h>
#include <psapi.h>

namespace svhost {

ProcessResources process_resources() {
  ProcessResources r;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters))
    r.private_kb = counters.PrivateUsage / 1024;
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) r.handles = handles;
  return r;
}

}  // namespace svhost
