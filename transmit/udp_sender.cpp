#include "transmit/udp_sender.h"

#include "base/errors.h"
#include "base/text.h"
#include "base/wsa_codes.h"
#include "transmit/socket_layer.h"

namespace sv {

UdpSender::UdpSender() { socket_layer::acquire(); }

UdpSender::~UdpSender() {
  close();
  socket_layer::release();
}

void UdpSender::SetHost(std::u16string host) {
  host_ = std::move(host);
  host_is_literal_ = parse_literal_host(host_, &literal_address_);
  literal_to_ = net::socket_address(literal_address_, port_);
}

void UdpSender::SetActive(bool active) {
  if (active == Active()) return;
  if (active) open();
  else close();
}

void UdpSender::open() {
  const net::Api& api = net::api();
  net::SocketHandle s = api.open_dgram();
  if (s == net::kNoSocket) throw SocketError(api.last_error());
  socket_ = s;  // stays open (and Active) even when binding fails below

  // Windows reports an ICMP answer to an earlier datagram (no receiver
  // listening yet, a route too long) as the failure of a later sendto; a
  // receiver that is absent for a while fails no step. A system that
  // refuses the calls keeps its reports, and the socket is used as it is.
  api.set_icmp_report(s, net::IcmpReport::PortUnreachable, 0);
  api.set_icmp_report(s, net::IcmpReport::TtlExpired, 0);

  // An empty BoundIP means any local address; a set one is read like a
  // dotted host (this system never sets one).
  net::Ipv4 bind_address{{0, 0, 0, 0}};
  if (!bound_ip_.empty() && !parse_dotted_ipv4(bound_ip_, &bind_address))
    throw CouldNotBindSocket();
  net::Ipv4 local{};
  std::uint16_t local_port = 0;
  if (api.bind(s, bind_address, bound_port_) != 0 || api.local_address(s, &local, &local_port) != 0)
    throw CouldNotBindSocket();
  local_address_ = int_to_u16(local.b[0]) + u"." + int_to_u16(local.b[1]) + u"." +
                   int_to_u16(local.b[2]) + u"." + int_to_u16(local.b[3]);
  local_port_ = local_port;

  if (broadcast_ && api.set_broadcast(s, 1) != 0) throw SocketError(api.last_error());
}

void UdpSender::close() {
  if (socket_ == net::kNoSocket) return;
  platform::LockGuard guard(close_lock_);
  net::SocketHandle s = socket_;
  socket_ = net::kNoSocket;
  net::api().shutdown_close(s);
  local_address_.clear();
  local_port_ = 0;
}

void UdpSender::finish_failed_send(const std::uint8_t* data, std::size_t size,
                                   const net::SocketAddress* to, std::intptr_t sent) {
  const net::Api& api = net::api();
  while (sent == -1) {
    const int code = api.last_error();
    if (code == wsa::kEmsgsize) throw PackageSizeTooBig();
    if (code != wsa::kEintr) throw SocketError(code);
    sent = api.send_to(socket_, data, size, to);  // interrupted before it sent anything
  }
  if (static_cast<std::size_t>(sent) != size) throw NotAllBytesSent();
}

}  // namespace sv
