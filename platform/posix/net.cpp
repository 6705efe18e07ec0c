// BSD sockets. Errors are reported as Windows Sockets codes: 10000 plus the
// BSD number of the condition, mapped by condition from Linux errno through
// the table in wsa_errno.h.
#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "base/wsa_codes.h"
#include "platform/posix/wsa_errno.h"

namespace sv::net {
namespace {

int wsa_code(int e) {
  if (e == 0) return 0;
  for (const posix::CodePair& c : posix::kErrnoCodes)
    if (c.os == e) return c.wsa;
  return e;  // no Windows Sockets condition: the raw number
}

int start() { return 0; }  // BSD sockets need no start-up
void stop() {}

SocketHandle open_dgram() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return s < 0 ? kNoSocket : s;
}

int bind_to(SocketHandle s, Ipv4 address, std::uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  std::memcpy(&a.sin_addr.s_addr, address.b, 4);
  a.sin_port = htons(port);
  if (::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), 16) != 0) return -1;
  return 0;
}

int local_address(SocketHandle s, Ipv4* address, std::uint16_t* port) {
  sockaddr_in a;
  socklen_t len = sizeof a;
  if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  std::memcpy(address->b, &a.sin_addr.s_addr, 4);
  *port = ntohs(a.sin_port);
  return 0;
}

int set_broadcast(SocketHandle s, int on) {
  int v = on;
  if (::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_BROADCAST, &v, 4) != 0) return -1;
  return 0;
}

// Linux reports ICMP answers to a UDP socket only once it is connected (or
// asks with IP_RECVERR); the sender's never is.
int set_icmp_report(SocketHandle, IcmpReport, int) { return 0; }

// A tail call: the system returns straight to the sender.
std::intptr_t send_to(SocketHandle s, const void* data, std::size_t size, const SocketAddress* to) {
  return ::sendto(static_cast<int>(s), data, size, 0, reinterpret_cast<const sockaddr*>(to->bytes),
                  sizeof(sockaddr_in));
}

void shutdown_close(SocketHandle s) {
  ::shutdown(static_cast<int>(s), SHUT_WR);
  ::close(static_cast<int>(s));
}

// Every failing entry leaves its cause in errno, and the sender asks before
// it calls anything else.
int last_error() { return wsa_code(errno); }

int lookup_code(int eai) {
  for (const posix::CodePair& c : posix::kLookupCodes)
    if (c.os == eai) return c.wsa;
  return wsa::kNoRecovery;  // any other resolver failure is non-recoverable
}

LookupResult lookup(std::u16string_view name) {
  std::string host = utf8(name);
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) return {LookupStatus::SystemError, {}, errno};
    return {LookupStatus::SocketError, {}, lookup_code(rc)};
  }
  LookupResult r{LookupStatus::SocketError, {}, wsa::kNoData};
  for (addrinfo* p = result; p; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addr) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
      r.status = LookupStatus::Ok;
      std::memcpy(r.address.b, &in->sin_addr.s_addr, 4);
      r.code = 0;
      break;
    }
  }
  ::freeaddrinfo(result);
  return r;
}

constexpr Api kPlatform{start,          stop,          open_dgram,      bind_to,
                        local_address,  set_broadcast, set_icmp_report, send_to,
                        shutdown_close, last_error,    lookup};

static_assert(sizeof(sockaddr_in) == sizeof(SocketAddress));

}  // namespace

SocketAddress socket_address(Ipv4 address, std::uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  std::memcpy(&a.sin_addr.s_addr, address.b, 4);
  SocketAddress r;
  std::memcpy(r.bytes, &a, sizeof a);
  return r;
}

namespace detail {
Api g_api = kPlatform;
}
const Api& platform_api() { return kPlatform; }

}  // namespace sv::net
