#include "bench/bare_send.h"

#include <stdexcept>

#include "base/text.h"

namespace bench {

namespace net = sv::net;

BareSocket::BareSocket(bool bound) {
  const net::Api& api = net::platform_api();
  if (library_.code() != 0) throw std::runtime_error("the socket library did not start");
  handle_ = api.open_dgram();
  if (handle_ == net::kNoSocket) throw std::runtime_error("socket failed");
  if (bound && api.bind(handle_, net::Ipv4{{0, 0, 0, 0}}, 0) != 0) {
    api.shutdown_close(handle_);
    throw std::runtime_error("bind failed");
  }
}

BareSocket::~BareSocket() { net::platform_api().shutdown_close(handle_); }

void BareSocket::send_loop(const void* data, std::size_t size, std::uint16_t port, int count) {
  const net::Api& api = net::platform_api();
  const net::SocketAddress to = net::socket_address(net::Ipv4{{127, 0, 0, 1}}, port);
  for (int i = 0; i < count; ++i)
    if (api.send_to(handle_, data, size, &to) != static_cast<std::intptr_t>(size)) ++failures_;
}

void BareSocket::lookup_send_loop(const std::string& name, const void* data, std::size_t size,
                                  std::uint16_t port, int count) {
  const net::Api& api = net::platform_api();
  const std::u16string host = sv::u16(name);
  for (int i = 0; i < count; ++i) {
    const net::LookupResult found = api.lookup(host);
    if (found.status != net::LookupStatus::Ok) {
      ++failures_;
      continue;
    }
    const net::SocketAddress to = net::socket_address(found.address, port);
    if (api.send_to(handle_, data, size, &to) != static_cast<std::intptr_t>(size)) ++failures_;
  }
}

std::string loopback_name() {
  const net::SocketLibrary library;
  const std::string name = library.code() == 0 ? net::host_name() : "";
  if (name.empty()) return {};
  const net::LookupResult found = net::platform_api().lookup(sv::u16(name));
  return found.status == net::LookupStatus::Ok && found.address.b[0] == 127 ? name : "";
}

}  // namespace bench
