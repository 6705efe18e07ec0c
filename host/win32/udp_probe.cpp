// The test receiver over Winsock. Programs of the host link WS2_32 directly;
// only the plug-in loads it at run time.
#include "host/udp_probe.h"

#include <winsock2.h>

#include <windows.h>

#include "host/host_error.h"
#include "host/win32/text.h"

namespace svhost {

struct UdpProbe::Impl {
  SOCKET s = INVALID_SOCKET;
  std::uint16_t port = 0;
  bool started = false;
};

UdpProbe::UdpProbe() : impl_(std::make_unique<Impl>()) {
  WSADATA data;
  int rc = WSAStartup(0x0202, &data);
  if (rc != 0) throw HostError("probe WSAStartup: " + win32::system_reason(rc));
  impl_->started = true;
  impl_->s = socket(AF_INET, SOCK_DGRAM, 0);
  if (impl_->s == INVALID_SOCKET) {
    int err = WSAGetLastError();
    WSACleanup();
    throw HostError("probe socket: " + win32::system_reason(err));
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (bind(impl_->s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(impl_->s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    int err = WSAGetLastError();
    closesocket(impl_->s);
    WSACleanup();
    throw HostError("probe bind 127.0.0.1: " + win32::system_reason(err));
  }
  impl_->port = ntohs(addr.sin_port);
}

UdpProbe::~UdpProbe() {
  if (impl_->s != INVALID_SOCKET) closesocket(impl_->s);
  if (impl_->started) WSACleanup();
}

std::uint16_t UdpProbe::port() const { return impl_->port; }

std::optional<std::vector<std::uint8_t>> UdpProbe::receive(int timeout_ms,
                                                           std::uint16_t* from_port) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(impl_->s, &set);
  timeval tv;
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  if (select(0, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &tv) <= 0) return std::nullopt;
  std::vector<std::uint8_t> buf(65536);
  sockaddr_in from{};
  int len = sizeof from;
  int n = recvfrom(impl_->s, reinterpret_cast<char*>(buf.data()), static_cast<int>(buf.size()), 0,
                   reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  if (from_port) *from_port = ntohs(from.sin_port);
  buf.resize(static_cast<std::size_t>(n));
  ++received_;
  return buf;
}

}  // namespace svhost
