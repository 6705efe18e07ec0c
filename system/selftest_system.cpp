#include "system/selftest_system.h"

#include "base/text.h"
#include "system/console.h"
#include "system/net.h"

namespace svhost::selftest {

namespace net = sv::net;

// The plug-in's own lookup, from the platform layer it is built on.
std::string lookup_ipv4(const std::string& name, std::string* error) {
  const net::SocketLibrary library;
  const net::LookupResult found =
      library.code() == 0 ? net::platform_api().lookup(sv::u16(name))
                          : net::LookupResult{net::LookupStatus::SystemError, {}, library.code()};
  if (found.status != net::LookupStatus::Ok) {
    *error = net::error_text(found.code);
    return {};
  }
  const auto& b = found.address.b;
  return sv::console::format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

}  // namespace svhost::selftest
