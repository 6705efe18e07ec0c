// A failed export ends in a structured exception, the way a host learns that
// a plug-in call went wrong.
#include "plugin/failure.h"

#include <windows.h>

#include "udpsv_exports.h"

namespace sv::platform {

void deliver_failure(const char* text, std::size_t length) {
  // The text lives in the calling thread's failure record until its next
  // export call, so the host's handler may read it at the given address.
  const ULONG_PTR args[2] = {reinterpret_cast<ULONG_PTR>(text), static_cast<ULONG_PTR>(length)};
  RaiseException(SV_FAILURE_EXCEPTION_CODE, 0, 2, args);
}

}  // namespace sv::platform
