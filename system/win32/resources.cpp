#include "system/resources.h"

#include <windows.h>

#include <psapi.h>
#include <winternl.h>

#include <cstring>
#include <vector>

#include "system/dynlib.h"

namespace svhost {
namespace {

// Wine leaves GetProcessHandleCount at 0, but lists every handle of the
// system; this process's entries are its handles.
std::uint64_t handles_from_system_list() {
  using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      dynlib::symbol(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
  if (!query) return 0;
  struct Entry {
    ULONG process;
    BYTE type, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  NTSTATUS status;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == static_cast<NTSTATUS>(0xC0000004L)) {  // too small
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  ULONG count;
  std::memcpy(&count, buffer.data(), sizeof count);
  const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
  const DWORD self = GetCurrentProcessId();
  std::uint64_t mine = 0;
  for (ULONG i = 0; i < count; ++i)
    if (entries[i].process == self) ++mine;
  return mine;
}

}  // namespace

ProcessResources process_resources() {
  ProcessResources r;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters)) {
    // The commit charge is the private bytes; Wine fills only the former.
    r.private_kb = (counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage) / 1024;
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) r.handles = handles;
  else r.handles = handles_from_system_list();
  return r;
}

// The plug-in links its C runtime statically: its heap is not this
// program's to count.
long allocations() { return -1; }

std::string machine_load() { return {}; }

}  // namespace svhost
