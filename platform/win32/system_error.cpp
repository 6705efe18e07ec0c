#include "platform/system_error.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace sv::platform {

std::u16string system_error_text(int code) {
  wchar_t buf[1024];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, buf, sizeof buf / sizeof buf[0], nullptr);
  // The system's text as it is, but without the line break it ends with.
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  return std::u16string(text16({buf, n}));
}

}  // namespace sv::platform
