// The exports linked straight into a test or benchmark program, and a UDP
// socket on 127.0.0.1 with an ephemeral port to send them to.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

extern "C" {
void InitUserDLL(void*);
void DisposeUserDLL(void*);
void ReadFromFile(intptr_t, void*);
void InitSimulationDLL(void*, const void*, intptr_t);
void SimulateDLL2(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, void*, const void*,
                  intptr_t);
void EndSimulationDLL2(void*);
int32_t GetLastFailureDLL(char*, int32_t);
}

namespace svtest {

class LoopbackSocket {
 public:
  LoopbackSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackSocket() { close(fd_); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  std::uint16_t port() const { return port_; }

  // One datagram and its source port, or false when none came in time.
  bool receive(std::vector<unsigned char>* data, std::uint16_t* from_port = nullptr,
               int timeout_ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    std::vector<unsigned char> buf(70000);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return false;
    buf.resize(static_cast<std::size_t>(n));
    *data = std::move(buf);
    if (from_port) *from_port = ntohs(from.sin_port);
    return true;
  }

 private:
  int fd_;
  std::uint16_t port_;
};

// A port on 127.0.0.1 where nobody listens any more.
inline std::uint16_t closed_port() {
  LoopbackSocket gone;
  return gone.port();
}

}  // namespace svtest
