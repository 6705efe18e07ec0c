#include "host/udp_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/host_error.h"

namespace svhost {

struct UdpProbe::Impl {
  int fd = -1;
  std::uint16_t port = 0;
};

UdpProbe::UdpProbe() : impl_(std::make_unique<Impl>()) {
  impl_->fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (impl_->fd < 0) throw HostError(std::string("probe socket: ") + std::strerror(errno));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(impl_->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::string why = std::strerror(errno);
    ::close(impl_->fd);
    throw HostError("probe bind 127.0.0.1: " + why);
  }
  impl_->port = ntohs(addr.sin_port);
}

UdpProbe::~UdpProbe() {
  if (impl_->fd >= 0) ::close(impl_->fd);
}

std::uint16_t UdpProbe::port() const { return impl_->port; }

std::optional<std::vector<std::uint8_t>> UdpProbe::receive(int timeout_ms,
                                                           std::uint16_t* from_port) {
  pollfd p{impl_->fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return std::nullopt;
  std::vector<std::uint8_t> buf(65536);
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n =
      ::recvfrom(impl_->fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  if (from_port) *from_port = ntohs(from.sin_port);
  buf.resize(static_cast<std::size_t>(n));
  ++received_;
  return buf;
}

}  // namespace svhost
