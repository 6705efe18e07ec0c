#include "system/guard.h"

#include <vector>

namespace svhost {

// Natively a failing export returns normally; GetLastFailureDLL holds the
// text until the thread's next export call.
bool call_guarded(GetLastFailureDLL_fn last_failure, void (*thunk)(void*), void* ctx,
                  std::string* failure, std::uint32_t* raised) {
  thunk(ctx);
  if (raised) *raised = 0;
  std::int32_t n = last_failure(nullptr, 0);
  if (n == 0) return true;
  std::vector<char> text(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
  last_failure(text.data(), static_cast<std::int32_t>(text.size()));
  if (failure) failure->assign(text.data());
  return false;
}

std::string failure_text_to_utf8(std::string_view text) { return std::string(text); }

}  // namespace svhost
