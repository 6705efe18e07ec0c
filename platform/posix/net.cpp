// BSD sockets. Errors are reported as Windows Sockets codes: 10000 plus the
// BSD number of the condition, mapped here by condition from Linux errno.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "support/text.h"

namespace sv::net {
namespace {

thread_local int t_last_error = 0;

int wsa_code(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN:
    case EPIPE: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return e;  // no Windows Sockets condition: the raw number
  }
}

int fail() {
  t_last_error = wsa_code(errno);
  return -1;
}

int start() { return 0; }  // BSD sockets need no start-up
void stop() {}

SocketHandle open_dgram() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    fail();
    return kNoSocket;
  }
  return s;
}

int bind_to(SocketHandle s, Ipv4 address, std::uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  std::memcpy(&a.sin_addr.s_addr, address.b, 4);
  a.sin_port = htons(port);
  if (::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), 16) != 0) return fail();
  return 0;
}

int local_address(SocketHandle s, Ipv4* address, std::uint16_t* port) {
  sockaddr_in a;
  socklen_t len = sizeof a;
  if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return fail();
  std::memcpy(address->b, &a.sin_addr.s_addr, 4);
  *port = ntohs(a.sin_port);
  return 0;
}

int set_broadcast(SocketHandle s, int on) {
  int v = on;
  if (::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_BROADCAST, &v, 4) != 0) return fail();
  return 0;
}

std::intptr_t send_to(SocketHandle s, const void* data, std::size_t size, Ipv4 address,
                      std::uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  std::memcpy(&a.sin_addr.s_addr, address.b, 4);
  ssize_t n;
  do {
    n = ::sendto(static_cast<int>(s), data, size, 0, reinterpret_cast<sockaddr*>(&a), 16);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail();
  return n;
}

void shutdown_close(SocketHandle s) {
  ::shutdown(static_cast<int>(s), SHUT_WR);
  ::close(static_cast<int>(s));
}

int last_error() { return t_last_error; }

int lookup_code(int eai) {
  switch (eai) {
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return 11004;  // the name has no IPv4 address
#endif
    case EAI_BADFLAGS: return 10022;
    case EAI_FAMILY: return 10047;
    case EAI_MEMORY: return 8;
    case EAI_SERVICE: return 10109;
    case EAI_SOCKTYPE: return 10044;
    default: return 11003;  // any other resolver failure is non-recoverable
  }
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
  LookupResult r{LookupStatus::SocketError, {}, 11004};
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

constexpr Api kPlatform{start,        stop,           open_dgram, bind_to,    local_address,
                        set_broadcast, send_to,       shutdown_close, last_error, lookup};
Api g_api = kPlatform;

}  // namespace

Api& api() { return g_api; }
const Api& platform_api() { return kPlatform; }

}  // namespace sv::net
