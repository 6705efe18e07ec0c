// A socket to wait on beside others that another thread, or a signal
// handler, can make readable: the self-pipe of the socket layer. Only
// sockets can be waited on together on Windows, so it is a socket there too.
// It is one end of a pair that nothing outside the process can reach, so
// that nothing another program sends can make a wait on it return.
#pragma once

#include <string>

#include "system/net.h"

namespace sv::recv {

class Waker {
 public:
  Waker() = default;
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  // Empty on success, else why not. Needs the socket library started.
  std::string open();
  net::SocketHandle socket() const { return ends_[0]; }

  // Makes socket() readable, and it stays so: every later wait on it
  // returns at once. One send that never waits, so a signal handler may
  // call it.
  void wake() const;

 private:
  net::SocketHandle ends_[2] = {net::kNoSocket, net::kNoSocket};
};

}  // namespace sv::recv
