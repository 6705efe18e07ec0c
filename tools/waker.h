// A socket to wait on beside others that another thread, or a signal
// handler, can make readable: the self-pipe of the socket layer. Only
// sockets can be waited on together on Windows, so it is a socket there too.
#pragma once

#include <string>

#include "platform/net.h"

namespace sv::recv {

class Waker {
 public:
  Waker() = default;
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  // A UDP socket on 127.0.0.1, on a port of the system's choice. Empty on
  // success, else why not. Needs the socket library started.
  std::string open();
  net::SocketHandle socket() const { return socket_; }

  // Makes socket() readable, and it stays so: every later wait on it
  // returns at once. One sendto, so a signal handler may call it.
  void wake() const;

  // Takes one datagram off the socket, without waiting: for a waiter that
  // found it readable without a request (a stray datagram from another
  // program of this PC), so that its waits do not return at once for ever.
  // The waiter checks for a request again before it waits.
  void drain() const;

 private:
  net::SocketHandle socket_ = net::kNoSocket;
  net::SocketAddress self_{};
};

}  // namespace sv::recv
