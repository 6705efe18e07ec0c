// The programs' sockets over Windows Sockets, bound by name from the
// WS2_32.DLL that start() loaded, as the sender's entries are.
#include "system/net.h"

#include <winsock2.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/win32/ws2.h"
#include "system/win32/text.h"

namespace sv::net {
namespace {

using socket_t = SOCKET(WSAAPI*)(int, int, int);
using setsockopt_t = int(WSAAPI*)(SOCKET, int, int, const char*, int);
using listen_t = int(WSAAPI*)(SOCKET, int);
using accept_t = SOCKET(WSAAPI*)(SOCKET, sockaddr*, int*);
using ioctlsocket_t = int(WSAAPI*)(SOCKET, long, u_long*);
using recvfrom_t = int(WSAAPI*)(SOCKET, char*, int, int, sockaddr*, int*);
using recv_t = int(WSAAPI*)(SOCKET, char*, int, int);
using send_t = int(WSAAPI*)(SOCKET, const char*, int, int);
using shutdown_t = int(WSAAPI*)(SOCKET, int);
using select_t = int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using WSASetLastError_t = void(WSAAPI*)(int);
using connect_t = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using gethostname_t = int(WSAAPI*)(char*, int);

using win32::Entry;

Entry<socket_t> e_socket("socket");
Entry<setsockopt_t> e_setsockopt("setsockopt");
Entry<listen_t> e_listen("listen");
Entry<accept_t> e_accept("accept");
Entry<ioctlsocket_t> e_ioctlsocket("ioctlsocket");
Entry<recvfrom_t> e_recvfrom("recvfrom");
Entry<recv_t> e_recv("recv");
Entry<send_t> e_send("send");
Entry<shutdown_t> e_shutdown("shutdown");
Entry<select_t> e_select("select");
Entry<WSASetLastError_t> e_WSASetLastError("WSASetLastError");
Entry<connect_t> e_connect("connect");
Entry<gethostname_t> e_gethostname("gethostname");

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

// Winsock takes int sizes; a larger buffer is used up to what fits.
int int_size(std::size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

int set_option(SocketHandle s, int level, int name, const void* value, int size) {
  auto fn = e_setsockopt.get();
  if (!fn) return -1;
  return fn(sock(s), level, name, static_cast<const char*>(value), size) == 0 ? 0 : -1;
}

SocketHandle open_stream() {
  auto fn = e_socket.get();
  if (!fn) return kNoSocket;
  SOCKET s = fn(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int own_port(SocketHandle s) {
  BOOL on = TRUE;
  return set_option(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
}

int listen_on(SocketHandle s) {
  auto fn = e_listen.get();
  if (!fn) return -1;
  return fn(sock(s), SOMAXCONN) == 0 ? 0 : -1;
}

SocketHandle accept_next(SocketHandle s) {
  auto fn = e_accept.get();
  if (!fn) return kNoSocket;
  SOCKET c = fn(sock(s), nullptr, nullptr);
  return c == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(c);
}

int set_receive_buffer(SocketHandle s, int bytes) {
  return set_option(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int set_send_buffer(SocketHandle s, int bytes) {
  return set_option(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

// Windows counts no datagrams it drops.
int count_drops(SocketHandle) {
  if (auto fn = e_WSASetLastError.get()) fn(WSAENOPROTOOPT);
  return -1;
}

int set_blocking(SocketHandle s, int on) {
  auto fn = e_ioctlsocket.get();
  if (!fn) return -1;
  u_long non_blocking = on ? 0 : 1;
  return fn(sock(s), FIONBIO, &non_blocking) == 0 ? 0 : -1;
}

int set_timeouts(SocketHandle s, int milliseconds) {
  DWORD t = static_cast<DWORD>(milliseconds);
  if (set_option(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t) != 0) return -1;
  return set_option(s, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}

std::intptr_t receive_datagram(SocketHandle s, void* data, std::size_t size, std::uint32_t*,
                               std::uint16_t* from_port) {
  auto fn = e_recvfrom.get();
  if (!fn) return -1;
  sockaddr_in from{};
  int from_size = sizeof from;
  const int n = fn(sock(s), static_cast<char*>(data), int_size(size), 0,
                   reinterpret_cast<sockaddr*>(&from), &from_size);
  if (n == SOCKET_ERROR) return -1;
  // The port in the network's byte order, which is fixed.
  const auto* port = reinterpret_cast<const std::uint8_t*>(&from.sin_port);
  if (from_port) *from_port = static_cast<std::uint16_t>(port[0] << 8 | port[1]);
  return n;
}

std::intptr_t receive(SocketHandle s, void* data, std::size_t size) {
  auto fn = e_recv.get();
  if (!fn) return -1;
  const int n = fn(sock(s), static_cast<char*>(data), int_size(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

// Windows raises no signal for a peer that is gone.
std::intptr_t send_stream(SocketHandle s, const void* data, std::size_t size) {
  auto fn = e_send.get();
  if (!fn) return -1;
  const int n = fn(sock(s), static_cast<const char*>(data), int_size(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int shutdown_both(SocketHandle s) {
  auto fn = e_shutdown.get();
  if (!fn) return -1;
  return fn(sock(s), SD_BOTH) == 0 ? 0 : -1;
}

int shutdown_send(SocketHandle s) {
  auto fn = e_shutdown.get();
  if (!fn) return -1;
  return fn(sock(s), SD_SEND) == 0 ? 0 : -1;
}

// Windows has no socket pair: a loopback connection to a listener of our
// own stands in. The listener's port is exclusive, so no other program can
// bind over it, and of what it accepts only the connection from our own
// end is kept: another program of this PC may connect first.
int open_pair(SocketHandle ends[2]) {
  auto connect_fn = e_connect.get();
  auto accept_fn = e_accept.get();
  if (!connect_fn || !accept_fn) return -1;
  const Ipv4 loopback{{127, 0, 0, 1}};
  const Api& api = net::api();
  const SocketHandle listener = open_stream();
  ends[0] = ends[1] = kNoSocket;
  Ipv4 address{};
  std::uint16_t port = 0;
  bool ok = listener != kNoSocket && own_port(listener) == 0 &&
            api.bind(listener, loopback, 0) == 0 && listen_on(listener) == 0 &&
            api.local_address(listener, &address, &port) == 0 &&
            (ends[1] = open_stream()) != kNoSocket;
  SocketAddress ours{};
  if (ok) {
    const SocketAddress to = socket_address(loopback, port);
    ok = connect_fn(sock(ends[1]), reinterpret_cast<const sockaddr*>(to.bytes),
                    sizeof(sockaddr_in)) == 0 &&
         api.local_address(ends[1], &address, &port) == 0;
    ours = socket_address(loopback, port);
  }
  for (int tries = 0; ok && ends[0] == kNoSocket && tries < 16; ++tries) {
    sockaddr_in from{};
    int size = sizeof from;
    const SOCKET c = accept_fn(sock(listener), reinterpret_cast<sockaddr*>(&from), &size);
    ok = c != INVALID_SOCKET;
    // Family, port and address: the first 8 bytes of an IPv4 socket address.
    if (ok && std::memcmp(&from, ours.bytes, 8) == 0) ends[0] = static_cast<SocketHandle>(c);
    else if (ok) api.shutdown_close(static_cast<SocketHandle>(c));
  }
  ok = ok && ends[0] != kNoSocket && set_blocking(ends[0], 0) == 0 && set_blocking(ends[1], 0) == 0;
  const int error = api.last_error();
  if (listener != kNoSocket) api.shutdown_close(listener);
  if (!ok) {
    for (int i = 0; i < 2; ++i)
      if (ends[i] != kNoSocket) api.shutdown_close(ends[i]);
    ends[0] = ends[1] = kNoSocket;
    if (auto set_error = e_WSASetLastError.get()) set_error(error);
    return -1;
  }
  return 0;
}

int wait_readable(const SocketHandle* sockets, std::size_t count, int timeout_ms, bool* ready) {
  auto fn = e_select.get();
  if (!fn) return -1;
  if (count == 0 || count > FD_SETSIZE) {
    if (auto set_error = e_WSASetLastError.get()) set_error(WSAEINVAL);
    return -1;
  }
  fd_set set;
  FD_ZERO(&set);
  for (std::size_t i = 0; i < count; ++i) FD_SET(sock(sockets[i]), &set);
  timeval t{};
  t.tv_sec = timeout_ms / 1000;
  t.tv_usec = (timeout_ms % 1000) * 1000;
  const int n = fn(0, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &t);
  // select leaves in the set the sockets that are ready. Read without
  // FD_ISSET, which would import WS2_32's __WSAFDIsSet.
  for (std::size_t i = 0; i < count; ++i) {
    ready[i] = false;
    for (u_int k = 0; n > 0 && k < set.fd_count; ++k)
      ready[i] = ready[i] || set.fd_array[k] == sock(sockets[i]);
  }
  return n == SOCKET_ERROR ? -1 : n;
}

constexpr ReceiveApi kPlatform{open_stream,        own_port,         listen_on,   accept_next,
                               set_receive_buffer, set_send_buffer,  count_drops, set_blocking,
                               set_timeouts,       receive_datagram, receive,     send_stream,
                               shutdown_both,      shutdown_send,    open_pair,   wait_readable};

}  // namespace

std::string error_text(int code) {
  const std::string text = svhost::win32::system_text(static_cast<unsigned long>(code));
  return text.empty() ? "Windows Sockets error " + std::to_string(code) : text;
}

const ReceiveApi& receive_api() { return kPlatform; }

std::string host_name() {
  auto fn = e_gethostname.get();
  char name[256] = {};
  if (!fn || fn(name, sizeof name - 1) != 0) return {};
  return utf8(platform::from_ansi(name));
}

}  // namespace sv::net
