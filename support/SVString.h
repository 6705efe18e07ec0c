// SVString: texts by id from the host's string-resource library.
#pragma once

#include <cstdint>
#include <string>

#include "platform/string_lib.h"

namespace sv::svstring {

// The loaded library, 0 when loading failed; callers test it to choose
// between the library's texts and their own German ones.
platform::StringLib StringLibHandle();

// Fetches the id's text into buffer, giving the lookup capacity - 1 as its
// room: at most capacity - 2 characters and a zero. Empty when the id has
// no text. Returns buffer.
char16_t* LoadText(std::int32_t id, char16_t* buffer, int capacity);
std::u16string GetText(std::int32_t id);  // through a 256-character buffer

// A message box of the two ids' texts, or "String-Resource nicht gefunden!"
// under "Fehler" when either has none.
void ShowMessageById(std::int32_t text_id, std::int32_t caption_id, std::uint16_t flags);

void init();
void fini();

}  // namespace sv::svstring
