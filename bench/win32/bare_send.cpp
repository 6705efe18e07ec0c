// Winsock, linked directly: the bench program is a host, not the plug-in.
#include "bench/bare_send.h"

#include <winsock2.h>

#include <windows.h>

#include <ws2tcpip.h>

#include <stdexcept>

namespace bench {
namespace {

// Started once for the process; the receiver starts its own as well.
void start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
}

std::wstring wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
  return w;
}

}  // namespace

BareSocket::BareSocket(bool bound) {
  start_winsock();
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  if (bound) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      ::closesocket(s);
      throw std::runtime_error("bind failed");
    }
  }
  handle_ = static_cast<std::intptr_t>(s);
}

BareSocket::~BareSocket() { ::closesocket(static_cast<SOCKET>(handle_)); }

void BareSocket::send_loop(const void* data, std::size_t size, std::uint16_t port, int count) {
  const SOCKET s = static_cast<SOCKET>(handle_);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int n = static_cast<int>(size);
  for (int i = 0; i < count; ++i) {
    if (::sendto(s, static_cast<const char*>(data), n, 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) != n)
      ++failures_;
  }
}

void BareSocket::lookup_send_loop(const std::string& name, const void* data, std::size_t size,
                                  std::uint16_t port, int count) {
  const SOCKET s = static_cast<SOCKET>(handle_);
  const std::wstring host = wide(name);
  const int n = static_cast<int>(size);
  for (int i = 0; i < count; ++i) {
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* list = nullptr;
    if (GetAddrInfoW(host.c_str(), nullptr, &hints, &list) != 0 || !list) {
      ++failures_;
      continue;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    FreeAddrInfoW(list);
    if (::sendto(s, static_cast<const char*>(data), n, 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) != n)
      ++failures_;
  }
}

std::string loopback_name() {
  start_winsock();
  char name[256] = {0};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  if (GetAddrInfoW(wide(name).c_str(), nullptr, &hints, &list) != 0 || !list) return {};
  bool loop = (ntohl(reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr) >> 24) == 127;
  FreeAddrInfoW(list);
  return loop ? name : std::string();
}

// The plug-in links its C runtime statically: its heap is not this
// program's to count.
long allocations() { return -1; }

std::string machine_load() { return {}; }

}  // namespace bench
