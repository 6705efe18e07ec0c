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
  // Starts the platform socket library; 0 or a system error code. Each
  // successful start is matched by one stop, and the library stops at the
  // last, so that a program's parts may start it each for itself; the
  // callers keep their starts and stops from running at the same time.
  int (*start)();
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

}  // namespace sv::net
