// The dotted-address test accepts exactly four pieces (a fourth '.' may only
// end the text), each an integer in 0..255, and the bytes it yields are the
// values of those pieces.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text.h"
#include "transmit/ipv4.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::u16string_view trim(std::u16string_view p) {
  while (!p.empty() && p.front() <= u' ') p.remove_prefix(1);
  while (!p.empty() && p.back() <= u' ') p.remove_suffix(1);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
  sv::net::Ipv4 addr{};
  const bool accepted = sv::parse_dotted_ipv4(text, &addr);

  std::vector<std::u16string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == u'.') {
      pieces.push_back(std::u16string_view(text).substr(start, i - start));
      start = i + 1;
    }
  }
  // "a.b.c.d" splits in 4, "a.b.c.d." in 5 with an empty last piece.
  bool shape = pieces.size() == 4 || (pieces.size() == 5 && pieces[4].empty());
  bool values = shape;
  for (std::size_t i = 0; values && i < 4; ++i) {
    auto v = sv::parse_int32(trim(pieces[i]));
    values = v && *v >= 0 && *v <= 255 && (!accepted || addr.b[i] == *v);
  }
  check(accepted == values);
  return 0;
}
