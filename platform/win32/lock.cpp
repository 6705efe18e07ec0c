#include "platform/lock.h"

#include <windows.h>

namespace sv::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

namespace {
CRITICAL_SECTION* cs(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

Lock::Lock() { InitializeCriticalSection(cs(storage_)); }
Lock::~Lock() { DeleteCriticalSection(cs(storage_)); }
void Lock::lock() { EnterCriticalSection(cs(storage_)); }
void Lock::unlock() { LeaveCriticalSection(cs(storage_)); }

}  // namespace sv::platform
