// Socket services the UDP sender takes from the system.
//
// The sender calls the system only through the table returned by api(), so
// tests can replace single entries to force failures the OS will not produce
// on demand. Error codes are Windows Sockets codes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sv::net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct Ipv4 {
  std::uint8_t b[4];
};

// A destination as the system's sendto takes it (an IPv4 socket address),
// made once by socket_address() and handed to every send to it.
struct SocketAddress {
  alignas(4) std::uint8_t bytes[16];
};
SocketAddress socket_address(Ipv4 address, std::uint16_t port);

enum class LookupStatus { Ok, SocketError, SystemError };

// ICMP answers to an earlier datagram that Windows reports as the failure of
// a later sendto on the same UDP socket: port unreachable (10054) and time
// to live expired (10052).
enum class IcmpReport { PortUnreachable, TtlExpired };

struct LookupResult {
  LookupStatus status;
  Ipv4 address;
  int code;  // Windows Sockets code, or the OS error code for SystemError
};

struct Api {
  // Starts the platform socket library; 0 or a system error code.
  int (*start)();
  // Stops it again; only called after a successful start.
  void (*stop)();
  // socket(AF_INET, SOCK_DGRAM, 0), blocking; kNoSocket on failure.
  SocketHandle (*open_dgram)();
  // bind to the address (0.0.0.0 for any) and port (0 for ephemeral); 0 or -1.
  int (*bind)(SocketHandle, Ipv4 address, std::uint16_t port);
  // getsockname; 0 or -1.
  int (*local_address)(SocketHandle, Ipv4* address, std::uint16_t* port);
  // SO_BROADCAST with a 4-byte value; 0 or -1.
  int (*set_broadcast)(SocketHandle, int on);
  // Turns one kind of ICMP report on or off for the socket (WSAIoctl with
  // SIO_UDP_CONNRESET or SIO_UDP_NETRESET); 0 or -1. A system that reports
  // neither on an unconnected socket does nothing and returns 0.
  int (*set_icmp_report)(SocketHandle, IcmpReport, int on);
  // One sendto with an explicit destination and flags 0; bytes sent, or -1
  // with the cause for last_error(). A call that a signal interrupted before
  // it sent anything fails with kEintr and is the caller's to repeat: the
  // platform adds nothing after the system call, so the system returns
  // straight to the sender. Every return after a system call is a
  // mispredicted one, some 10 ns: a step's path keeps them to the export's
  // own frame.
  std::intptr_t (*send_to)(SocketHandle, const void* data, std::size_t size,
                           const SocketAddress* to);
  // shutdown for sending, then close; results ignored.
  void (*shutdown_close)(SocketHandle);
  // Windows Sockets code of the calling thread's latest socket failure;
  // asked right after the call that failed.
  int (*last_error)();
  // Name lookup for one IPv4 address (first result).
  LookupResult (*lookup)(std::u16string_view name);
};

// The table the sender uses. Tests may overwrite entries and restore them
// from platform_api().
namespace detail {
extern Api g_api;
}
inline Api& api() { return detail::g_api; }
const Api& platform_api();

// ---- The receiving side --------------------------------------------------
// What the tools take besides the sender's entries: datagrams in, and a small
// TCP server. The plug-in uses none of it, so these entries live in files of
// their own (net_receive.cpp) that the DLL never links. The same rules hold:
// start() first, failures as -1 or kNoSocket with the cause for
// api().last_error(), and a Windows Sockets code for every cause.
struct ReceiveApi {
  // socket(AF_INET, SOCK_STREAM, 0), blocking; kNoSocket on failure.
  SocketHandle (*open_stream)();
  // For a socket about to listen: its port can be bound again at once after
  // an earlier program's connections on it ended, and by no other socket
  // while it is bound (SO_REUSEADDR on POSIX, SO_EXCLUSIVEADDRUSE on
  // Windows, whose SO_REUSEADDR would let another program take the port).
  // 0 or -1.
  int (*own_port)(SocketHandle);
  // listen with the system's longest queue of connections; 0 or -1.
  int (*listen)(SocketHandle);
  // The next connection of a listening socket, blocking; kNoSocket on
  // failure.
  SocketHandle (*accept)(SocketHandle);
  // The receive queue's size in bytes (SO_RCVBUF), a wish the system may
  // cut; 0 or -1.
  int (*set_receive_buffer)(SocketHandle, int bytes);
  // The send queue's size in bytes (SO_SNDBUF); 0 or -1. A stream whose
  // peer stops reading then blocks after this much more, not after what
  // the system would let the queue grow to.
  int (*set_send_buffer)(SocketHandle, int bytes);
  // Makes the system count the datagrams it drops for a full receive queue
  // and hand the count along with the next datagram received; 0, or -1
  // with kEnoprotoopt where the system keeps no such count (Windows).
  int (*count_drops)(SocketHandle);
  // Blocking (1) or not (0); a call that would wait on a non-blocking socket
  // fails with kEwouldblock. 0 or -1.
  int (*set_blocking)(SocketHandle, int on);
  // The longest wait of each blocking receive and send on the socket; one
  // that waits longer fails (kEwouldblock or kEtimedout). 0 or -1.
  int (*set_timeouts)(SocketHandle, int milliseconds);
  // The next datagram into data, whose size must hold the largest (65507
  // bytes); its length (0 for an empty one) or -1. When the datagram brings
  // the system's count of drops (count_drops), *dropped takes it.
  std::intptr_t (*receive_datagram)(SocketHandle, void* data, std::size_t size,
                                    std::uint32_t* dropped);
  // recv on a stream: bytes received, 0 at the end of the peer's stream, or
  // -1.
  std::intptr_t (*receive)(SocketHandle, void* data, std::size_t size);
  // send on a stream, never raising a signal when the peer is gone; bytes
  // sent (possibly fewer than size) or -1.
  std::intptr_t (*send)(SocketHandle, const void* data, std::size_t size);
  // Ends both directions of a stream, so that a receive or send blocked on
  // it in another thread returns; the socket stays open. 0 or -1.
  int (*shutdown_both)(SocketHandle);
  // Ends the sending direction only: the peer reads the end of the stream
  // after what was sent, and what it still sends can be read. 0 or -1.
  int (*shutdown_send)(SocketHandle);
  // Two connected stream sockets, both non-blocking, that nothing outside
  // the process can reach: what one end sends only the other receives.
  // 0 or -1.
  int (*open_pair)(SocketHandle ends[2]);
  // Waits until a socket of sockets[0..count) has something to read: a
  // datagram, a connection to accept, data or the end of a stream; at most
  // timeout_ms, or without limit when it is negative. ready[i] tells which.
  // The number ready, 0 when the time ran out, or -1 (kEintr when a signal
  // came on POSIX).
  int (*wait_readable)(const SocketHandle* sockets, std::size_t count, int timeout_ms, bool* ready);
};

namespace detail {
extern ReceiveApi g_receive_api;
}
inline ReceiveApi& receive_api() { return detail::g_receive_api; }
const ReceiveApi& platform_receive_api();

// The system's own words for a Windows Sockets code as last_error() gives
// it (English on POSIX, the system's language on Windows), as UTF-8 without
// a line end; the bare number for a code it has no words for.
std::string error_text(int code);

}  // namespace sv::net
