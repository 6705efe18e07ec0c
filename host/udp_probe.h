// Platform service: a UDP receiver on 127.0.0.1 with an ephemeral port, for
// tests that check what the plug-in puts on the wire. Implemented in
// host/<platform>/udp_probe.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace svhost {

class UdpProbe {
 public:
  // Binds 127.0.0.1, port 0. Throws HostError when that fails.
  UdpProbe();
  ~UdpProbe();
  UdpProbe(const UdpProbe&) = delete;
  UdpProbe& operator=(const UdpProbe&) = delete;

  // The port the system chose.
  std::uint16_t port() const;

  // The next datagram, waiting at most timeout_ms; nullopt when none came.
  // A datagram of zero bytes is returned as an empty vector.
  std::optional<std::vector<std::uint8_t>> receive(int timeout_ms);

  // Receives until no datagram arrives for quiet_ms; returns how many came.
  std::size_t drain(int quiet_ms) {
    std::size_t n = 0;
    while (receive(quiet_ms)) ++n;
    return n;
  }

  // Datagrams received so far by receive() and drain().
  std::size_t received() const { return received_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::size_t received_ = 0;
};

}  // namespace svhost
