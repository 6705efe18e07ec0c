// Linux has no message boxes: the native build writes a box's caption and
// text to the standard error stream, where the user of a console program
// reads, and takes the answer as OK; the beep is the terminal's bell. (Only
// the parameter dialog's fields show boxes, and the native build has no
// dialog: dialog/posix/no_windows.cpp.)
#include "platform/message_box.h"

#include <cstdio>

#include "base/text.h"

namespace sv::platform {

int message_box(Window, std::u16string_view text, std::u16string_view caption, unsigned) {
  std::fprintf(stderr, "%s: %s\n", utf8(caption).c_str(), utf8(text).c_str());
  return 1;  // IDOK
}

int application_message_box(Window, std::u16string_view text, std::u16string_view caption,
                            unsigned flags) {
  return message_box(0, text, caption, flags);
}

void message_beep(unsigned) { std::fputc('\a', stderr); }

}  // namespace sv::platform
