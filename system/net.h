// The programs' sockets: what udpsv-recv, the self-test, the tests and the
// benchmarks take besides the sender's entries of platform/net.h, which they
// use as well: datagrams in, a small TCP server, and the socket library
// started for as long as a part of the program needs it. The plug-in uses
// none of it. The same rules hold: failures as -1 or kNoSocket with the
// cause for api().last_error(), and a Windows Sockets code for every cause.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net.h"

namespace sv::net {

// The platform socket library, started while the object lives, through the
// platform's own table (a test's faults in api() leave it alone); code() is
// 0, or the system's error code when it could not start and sockets are not
// to be had.
class SocketLibrary {
 public:
  SocketLibrary() : code_(platform_api().start()) {}
  ~SocketLibrary() {
    if (code_ == 0) platform_api().stop();
  }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  int code() const { return code_; }

 private:
  int code_;
};

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
  // the system's count of drops (count_drops), *dropped takes it; from_port,
  // unless null, takes the sender's port.
  std::intptr_t (*receive_datagram)(SocketHandle, void* data, std::size_t size,
                                    std::uint32_t* dropped, std::uint16_t* from_port);
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

const ReceiveApi& receive_api();

// The system's own words for a Windows Sockets code as last_error() gives
// it (English on POSIX, the system's language on Windows), as UTF-8 without
// a line end; the bare number for a code it has no words for.
std::string error_text(int code);

// This machine's name, as UTF-8; empty when the system gives none. Needs
// the socket library started.
std::string host_name();

}  // namespace sv::net
