// What the console service does the same on every platform.
#include "system/console.h"

#include <cstdarg>
#include <cstdio>

namespace sv::console {

std::string format(const char* pattern, ...) {
  char small[256];
  std::va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(small, sizeof small, pattern, args);
  va_end(args);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  va_start(args, pattern);
  std::vsnprintf(text.data(), text.size(), pattern, args);
  va_end(args);
  text.pop_back();
  return text;
}

}  // namespace sv::console
