// The number readers of TIntegerEdit: the real-number reader of CheckValue
// must never trap, whatever the text, under the start-up's control word, and
// must agree with the integer reader on plain integers; Format output must
// read back as the number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "base/x87.h"
#include "dialog/IntegerEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sv::x87::load(sv::x87::kStartupControlWord, 0);
  std::u16string text(reinterpret_cast<const char*>(data),
                      reinterpret_cast<const char*>(data) + size);

  long double v = 0;
  bool real = sv::integer_edit::read_real(text, v);
  if ((sv::x87::control_word() & ~0x40) != sv::x87::kStartupControlWord) std::abort();
  if (real && v != v) std::abort();  // never NaN
  bool plain = text.find_first_of(u"$xX.eE") == std::u16string::npos;
  if (plain) {
    if (auto n = sv::parse_int32(text)) {
      if (!real || v != static_cast<long double>(*n)) std::abort();
    }
  }

  if (size >= 4) {
    std::int32_t n;
    std::memcpy(&n, data, 4);
    std::u16string formatted = sv::integer_edit::format_int(u"%3d", n);
    auto back = sv::parse_int32(formatted);
    if (!back || *back != n) std::abort();
    try {
      sv::integer_edit::format_int(text, n);
    } catch (const sv::Error&) {
      // An invalid pattern is refused, never misread.
    }
  }
  return 0;
}
