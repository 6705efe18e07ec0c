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

// LOCALHOST, then the dotted test, then a name lookup. Raises SocketError or
// OSError when the lookup fails.
net::Ipv4 resolve_host(std::u16string_view host);

}  // namespace sv
