// The programs' sockets over BSD sockets; failures leave their cause
// in errno, which api().last_error() translates.
#include "system/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/posix/wsa_errno.h"

namespace sv::net {
namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

SocketHandle open_stream() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? kNoSocket : s;
}

// Linux's SO_REUSEADDR lets a listener rebind past connections in TIME_WAIT
// but never lets a second socket listen on the same port.
int own_port(SocketHandle s) {
  int on = 1;
  return ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
}

int listen_on(SocketHandle s) { return ::listen(fd(s), SOMAXCONN) == 0 ? 0 : -1; }

SocketHandle accept_next(SocketHandle s) {
  for (;;) {
    const int c = ::accept4(fd(s), nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) return c;
    if (errno != EINTR) return kNoSocket;
  }
}

int set_receive_buffer(SocketHandle s, int bytes) {
  return ::setsockopt(fd(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : -1;
}

int set_send_buffer(SocketHandle s, int bytes) {
  return ::setsockopt(fd(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0 ? 0 : -1;
}

int count_drops(SocketHandle s) {
  int on = 1;
  return ::setsockopt(fd(s), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0 ? 0 : -1;
}

int set_blocking(SocketHandle s, int on) {
  const int flags = ::fcntl(fd(s), F_GETFL);
  if (flags < 0) return -1;
  const int wanted = on ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
  return ::fcntl(fd(s), F_SETFL, wanted) == 0 ? 0 : -1;
}

int set_timeouts(SocketHandle s, int milliseconds) {
  timeval t{};
  t.tv_sec = milliseconds / 1000;
  t.tv_usec = (milliseconds % 1000) * 1000;
  if (::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t) != 0) return -1;
  return ::setsockopt(fd(s), SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t) == 0 ? 0 : -1;
}

std::intptr_t receive_datagram(SocketHandle s, void* data, std::size_t size, std::uint32_t* dropped,
                               std::uint16_t* from_port) {
  iovec iov{data, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
  sockaddr_in from{};
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = ::recvmsg(fd(s), &msg, 0);
  if (n < 0) return -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
    if (dropped && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
      std::memcpy(dropped, CMSG_DATA(c), sizeof *dropped);
  if (from_port) *from_port = ntohs(from.sin_port);
  return n;
}

std::intptr_t receive(SocketHandle s, void* data, std::size_t size) {
  return ::recv(fd(s), data, size, 0);
}

std::intptr_t send_stream(SocketHandle s, const void* data, std::size_t size) {
  return ::send(fd(s), data, size, MSG_NOSIGNAL);
}

int shutdown_both(SocketHandle s) { return ::shutdown(fd(s), SHUT_RDWR) == 0 ? 0 : -1; }

int shutdown_send(SocketHandle s) { return ::shutdown(fd(s), SHUT_WR) == 0 ? 0 : -1; }

// A socket pair of the local domain has no address at all.
int open_pair(SocketHandle ends[2]) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  ends[0] = fds[0];
  ends[1] = fds[1];
  return 0;
}

int wait_readable(const SocketHandle* sockets, std::size_t count, int timeout_ms, bool* ready) {
  std::vector<pollfd> fds(count);
  for (std::size_t i = 0; i < count; ++i) fds[i] = pollfd{fd(sockets[i]), POLLIN, 0};
  const int n = ::poll(fds.data(), fds.size(), timeout_ms < 0 ? -1 : timeout_ms);
  // An error or hang-up is something to read too: the read then says what.
  for (std::size_t i = 0; i < count; ++i) ready[i] = n > 0 && fds[i].revents != 0;
  return n;
}

constexpr ReceiveApi kPlatform{open_stream,        own_port,         listen_on,   accept_next,
                               set_receive_buffer, set_send_buffer,  count_drops, set_blocking,
                               set_timeouts,       receive_datagram, receive,     send_stream,
                               shutdown_both,      shutdown_send,    open_pair,   wait_readable};

}  // namespace

std::string error_text(int code) {
  const char* text = nullptr;
  for (const posix::CodePair& c : posix::kErrnoCodes)
    if (c.wsa == code) {
      text = std::strerror(c.os);
      break;
    }
  for (const posix::CodePair& c : posix::kLookupCodes)
    if (!text && c.wsa == code) text = ::gai_strerror(c.os);
  // A number that names no Windows Sockets condition came from errno as it was.
  if (!text && code > 0 && code < 10000) text = std::strerror(code);
  return text ? std::string(text) : "Windows Sockets error " + std::to_string(code);
}

const ReceiveApi& receive_api() { return kPlatform; }

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

}  // namespace sv::net
