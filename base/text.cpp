#include "base/text.h"

#include "base/errors.h"

namespace sv {

std::u16string u16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    std::size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c >> 5) == 0x6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 0xE) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c >> 3) == 0x1E) {
      cp = c & 0x07;
      n = 4;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    std::size_t k = 1;
    for (; k < n && i + k < s.size(); ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 0x2) break;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // A character cut off by the end is one U+FFFD. One broken off by
    // another byte, in a longer form than it needs, a surrogate, or beyond
    // U+10FFFF, is no character: its bytes are read as strays.
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (k < n || cp < kShortest[n] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) {
      out.push_back(u'\uFFFD');
      i += k < n && i + k == s.size() ? k : 1;
      continue;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

char32_t next_code_point(std::u16string_view s, std::size_t& i) {
  const char32_t cp = s[i++];
  if (cp >= 0xD800 && cp < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] < 0xE000)
    return 0x10000 + ((cp - 0xD800) << 10) + (s[i++] - 0xDC00);
  if (cp >= 0xD800 && cp < 0xE000) return 0xFFFD;
  return cp;
}

std::string utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char32_t cp = next_code_point(s, i);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string int_to_ascii(std::int64_t value) {
  char buf[24];
  char* p = buf + sizeof buf;
  // Work on the negative side so the most negative value needs no special case.
  std::int64_t v = value < 0 ? value : -value;
  do {
    *--p = static_cast<char>('0' - (v % 10));
    v /= 10;
  } while (v != 0);
  if (value < 0) *--p = '-';
  return std::string(p, buf + sizeof buf);
}

std::u16string int_to_u16(std::int64_t value) {
  std::string a = int_to_ascii(value);
  return std::u16string(a.begin(), a.end());
}

std::optional<std::int32_t> parse_int32(std::u16string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  bool hex = false;
  if (i < s.size() && s[i] == u'$') {
    hex = true;
    ++i;
  } else if (i < s.size() && (s[i] == u'x' || s[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;  // no digits at all

  if (hex) {
    std::uint32_t v = 0;
    for (; i < s.size(); ++i) {
      char16_t c = s[i];
      unsigned d;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else return std::nullopt;
      if (v > 0x0FFFFFFFu) return std::nullopt;  // more than 32 bits
      v = (v << 4) | d;
    }
    if (negative) v = 0u - v;
    return static_cast<std::int32_t>(v);
  }

  std::int64_t v = 0;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    v = v * 10 + (c - u'0');
    if (v > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

std::int32_t str_to_int(std::u16string_view text) {
  if (auto v = parse_int32(text)) return *v;
  throw ConvertError(std::u16string(text));
}

std::u16string replace_first(std::u16string pattern, std::u16string_view placeholder,
                             std::u16string_view with) {
  auto pos = pattern.find(placeholder);
  if (pos != std::u16string::npos) pattern.replace(pos, placeholder.size(), with);
  return pattern;
}

bool equals_ignore_ascii_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace sv
