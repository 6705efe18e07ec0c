#include "tools/waker.h"

namespace sv::recv {

namespace {
constexpr net::Ipv4 kLoopback{{127, 0, 0, 1}};
}

Waker::~Waker() {
  if (socket_ != net::kNoSocket) net::api().shutdown_close(socket_);
}

std::string Waker::open() {
  const net::Api& api = net::api();
  socket_ = api.open_dgram();
  net::Ipv4 address{};
  std::uint16_t port = 0;
  if (socket_ == net::kNoSocket || api.bind(socket_, kLoopback, 0) != 0 ||
      api.local_address(socket_, &address, &port) != 0 ||
      net::receive_api().set_blocking(socket_, 0) != 0)
    return net::error_text(api.last_error());
  self_ = net::socket_address(kLoopback, port);
  return {};
}

void Waker::drain() const {
  char byte[1];
  std::uint32_t dropped = 0;
  if (socket_ != net::kNoSocket)
    net::receive_api().receive_datagram(socket_, byte, sizeof byte, &dropped);
}

void Waker::wake() const {
  static const char kByte = 0;
  if (socket_ != net::kNoSocket) net::api().send_to(socket_, &kByte, 1, &self_);
}

}  // namespace sv::recv
