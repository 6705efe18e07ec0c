// Calling one plug-in export and catching its failure.
//
// Natively an export that fails returns normally and GetLastFailureDLL tells
// why. In the win32 build a failing export raises the structured exception
// SV_FAILURE_EXCEPTION_CODE (arguments: message address, byte length), which
// the win32 guard catches with an exception frame around `thunk`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "udpsv_exports.h"

namespace svhost {

// Calls thunk(ctx), which makes exactly one export call. Returns true when
// the export succeeded; otherwise false with the failure's text, in the
// plug-in's encoding, in *failure, and in *raised the code of the
// structured exception that carried it (win32; 0 natively, where none is
// raised). `last_failure` is the plug-in's GetLastFailureDLL.
bool call_guarded(GetLastFailureDLL_fn last_failure, void (*thunk)(void*), void* ctx,
                  std::string* failure, std::uint32_t* raised = nullptr);

// A failure text in the plug-in's encoding (UTF-8 natively, the ANSI code
// page on win32) as UTF-8.
std::string failure_text_to_utf8(std::string_view text);

}  // namespace svhost
