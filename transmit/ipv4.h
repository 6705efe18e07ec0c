// Turning a sender's Host into the four bytes of an IPv4 address.
#pragma once

#include <string_view>

#include "platform/net.h"

namespace sv {

// True when the text is a dotted IPv4 address: four pieces split off at '.',
// each trimmed of blanks and control characters and read as an integer in
// 0..255, with nothing left after the fourth (one trailing '.' goes with it).
bool parse_dotted_ipv4(std::u16string_view text, net::Ipv4* out);

// "LOCALHOST" in any letter case.
bool is_localhost_word(std::u16string_view text);

// LOCALHOST or a dotted address: a host whose address needs no lookup and
// can never change.
bool parse_literal_host(std::u16string_view host, net::Ipv4* out);

// A name lookup, for a host that is not a literal. Raises SocketError or
// OSError when it fails.
net::Ipv4 lookup_name(std::u16string_view name);

// A literal as above, else a name lookup.
net::Ipv4 resolve_host(std::u16string_view host);

}  // namespace sv
