// A UDP receiver on 127.0.0.1 with an ephemeral port, for checking what the
// plug-in puts on the wire. The self-test receives its frames with it; every
// test and benchmark uses the same one, native and under Wine.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "system/net.h"

namespace svhost {

// How long a receive waits for a datagram that must come. One that comes
// ends the wait, so this bounds a failure only: generous for two cores with
// a CPU hog on each and the sanitizers on.
inline constexpr int kArrivalMs = 120000;

// How long to listen for a datagram that must not come. A send of this
// process is in the loopback queue when it returns, so this need not wait
// for a sender.
inline constexpr int kQuietMs = 200;

class UdpProbe {
 public:
  // Binds 127.0.0.1, port 0. Throws HostError when that fails.
  UdpProbe();
  ~UdpProbe();
  UdpProbe(const UdpProbe&) = delete;
  UdpProbe& operator=(const UdpProbe&) = delete;

  // The port the system chose.
  std::uint16_t port() const { return port_; }

  // The next datagram, waiting at most timeout_ms; nullopt when none came.
  // A datagram of zero bytes is returned as an empty vector. from_port, if
  // given, receives the sender's port.
  std::optional<std::vector<std::uint8_t>> receive(int timeout_ms = kArrivalMs,
                                                   std::uint16_t* from_port = nullptr);

  // Receives until no datagram arrives for quiet_ms; returns how many came.
  std::size_t drain(int quiet_ms) {
    std::size_t n = 0;
    while (receive(quiet_ms)) ++n;
    return n;
  }

  // Datagrams received so far by receive() and drain().
  std::size_t received() const { return received_; }

 private:
  sv::net::SocketLibrary library_;
  sv::net::SocketHandle socket_ = sv::net::kNoSocket;
  std::uint16_t port_ = 0;
  std::size_t received_ = 0;
};

// A port on 127.0.0.1 where nobody listens any more.
inline std::uint16_t closed_port() { return UdpProbe().port(); }

}  // namespace svhost
