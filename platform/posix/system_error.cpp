#include "platform/system_error.h"

#include <cstring>

#include "base/text.h"

namespace sv::platform {

std::u16string system_error_text(int code) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  return u16(text ? text : "");
}

}  // namespace sv::platform
