#include "transmit/ipv4.h"

#include "base/errors.h"
#include "base/text.h"
#include "platform/system_error.h"

namespace sv {

bool parse_dotted_ipv4(std::u16string_view text, net::Ipv4* out) {
  net::Ipv4 addr{};
  std::u16string_view rest = text;
  for (int piece = 0; piece < 4; ++piece) {
    std::u16string_view p;
    auto dot = rest.find(u'.');
    if (dot == std::u16string_view::npos) {
      p = rest;
      rest = {};
    } else {
      p = rest.substr(0, dot);
      rest = rest.substr(dot + 1);
    }
    while (!p.empty() && p.front() <= u' ') p.remove_prefix(1);
    while (!p.empty() && p.back() <= u' ') p.remove_suffix(1);
    auto v = parse_int32(p);
    if (!v || *v < 0 || *v > 255) return false;
    addr.b[piece] = static_cast<std::uint8_t>(*v);
  }
  if (!rest.empty()) return false;
  if (out) *out = addr;
  return true;
}

bool is_localhost_word(std::u16string_view text) {
  return equals_ignore_ascii_case(text, u"LOCALHOST");
}

bool parse_literal_host(std::u16string_view host, net::Ipv4* out) {
  if (is_localhost_word(host)) {
    *out = net::Ipv4{{127, 0, 0, 1}};
    return true;
  }
  return parse_dotted_ipv4(host, out);
}

net::Ipv4 resolve_host(std::u16string_view host) {
  net::Ipv4 addr;
  if (parse_literal_host(host, &addr)) return addr;
  return lookup_name(host);
}

net::Ipv4 lookup_name(std::u16string_view name) {
  net::LookupResult r = net::api().lookup(name);
  switch (r.status) {
    case net::LookupStatus::Ok: return r.address;
    case net::LookupStatus::SocketError: throw SocketError(r.code);
    case net::LookupStatus::SystemError: throw OSError(r.code, platform::system_error_text(r.code));
  }
  throw SocketError(r.code);
}

}  // namespace sv
