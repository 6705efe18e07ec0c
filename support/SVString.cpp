#include "support/SVString.h"

#include "base/owner_window.h"
#include "base/unit_counter.h"
#include "platform/message_box.h"

namespace sv::svstring {
namespace {

UnitCounter g_unit;
platform::StringLib g_handle = 0;

constexpr int kBufferSize = 256;

}  // namespace

platform::StringLib StringLibHandle() { return g_handle; }

char16_t* LoadText(std::int32_t id, char16_t* buffer, int capacity) {
  // A lookup room below 1 would make the platform hand out a pointer into
  // the library instead of a copy; such a buffer just gets empty text.
  if (capacity < 2) {
    if (capacity == 1) buffer[0] = 0;
    return buffer;
  }
  int n = platform::load_string(g_handle, static_cast<unsigned>(id), buffer, capacity - 1);
  buffer[n > 0 ? n : 0] = 0;
  return buffer;
}

std::u16string GetText(std::int32_t id) {
  char16_t buffer[kBufferSize];
  return LoadText(id, buffer, kBufferSize);
}

void ShowMessageById(std::int32_t text_id, std::int32_t caption_id, std::uint16_t flags) {
  char16_t text[kBufferSize];
  char16_t caption[kBufferSize];
  int t = platform::load_string(g_handle, static_cast<unsigned>(text_id), text, kBufferSize);
  int c = platform::load_string(g_handle, static_cast<unsigned>(caption_id), caption, kBufferSize);
  if (t > 0 && c > 0) {
    platform::application_message_box(owner_window(), std::u16string_view(text, t),
                                      std::u16string_view(caption, c), flags);
  } else {
    platform::application_message_box(owner_window(), u"String-Resource nicht gefunden!", u"Fehler",
                                      flags);
  }
}

void init() {
  if (!g_unit.begin_init()) return;
  g_handle = platform::load_string_lib();
}

void fini() {
  if (!g_unit.begin_fini()) return;
  platform::free_string_lib(g_handle);
  g_handle = 0;
}

}  // namespace sv::svstring
