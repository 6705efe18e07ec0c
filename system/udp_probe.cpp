// On the programs' sockets, from the platform's own table: a test that
// injects faults into the sender's entries (net::api()) leaves the probe
// alone.
#include "system/udp_probe.h"

#include "base/wsa_codes.h"
#include "system/host_error.h"

namespace svhost {

namespace net = sv::net;

UdpProbe::UdpProbe() {
  const net::Api& api = net::platform_api();
  if (library_.code() != 0)
    throw HostError("probe: cannot start the socket library: " + net::error_text(library_.code()));
  socket_ = api.open_dgram();
  if (socket_ == net::kNoSocket)
    throw HostError("probe socket: " + net::error_text(api.last_error()));
  net::Ipv4 bound{};
  if (api.bind(socket_, net::Ipv4{{127, 0, 0, 1}}, 0) != 0 ||
      api.local_address(socket_, &bound, &port_) != 0) {
    const int code = api.last_error();
    api.shutdown_close(socket_);
    throw HostError("probe bind 127.0.0.1: " + net::error_text(code));
  }
}

UdpProbe::~UdpProbe() {
  if (socket_ != net::kNoSocket) net::platform_api().shutdown_close(socket_);
}

std::optional<std::vector<std::uint8_t>> UdpProbe::receive(int timeout_ms,
                                                           std::uint16_t* from_port) {
  bool ready = false;
  int n;
  do {
    n = net::receive_api().wait_readable(&socket_, 1, timeout_ms, &ready);
  } while (n < 0 && net::platform_api().last_error() == sv::wsa::kEintr);
  if (n <= 0) return std::nullopt;
  std::vector<std::uint8_t> buf(65536);
  const std::intptr_t got =
      net::receive_api().receive_datagram(socket_, buf.data(), buf.size(), nullptr, from_port);
  if (got < 0) return std::nullopt;
  buf.resize(static_cast<std::size_t>(got));
  ++received_;
  return buf;
}

}  // namespace svhost
