// What the plug-in's step is measured against: the system's own sendto on a
// datagram socket of this process, through the same platform entries as the
// plug-in's sender but with nothing of the sender in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "system/net.h"

namespace bench {

class BareSocket {
 public:
  // A datagram socket; `bound` binds it to 0.0.0.0 and an ephemeral port
  // first, as the plug-in's sender does, otherwise the first sendto binds it.
  explicit BareSocket(bool bound);
  ~BareSocket();
  BareSocket(const BareSocket&) = delete;
  BareSocket& operator=(const BareSocket&) = delete;

  // `count` times one sendto of the buffer to 127.0.0.1:port.
  void send_loop(const void* data, std::size_t size, std::uint16_t port, int count);
  // `count` times: look the name up (IPv4, first result, as the plug-in asks),
  // then one sendto of the buffer to that address and port.
  void lookup_send_loop(const std::string& name, const void* data, std::size_t size,
                        std::uint16_t port, int count);

  // Sends that did not hand over every byte; 0 on a sound run.
  long failures() const { return failures_; }

 private:
  sv::net::SocketLibrary library_;
  sv::net::SocketHandle handle_ = sv::net::kNoSocket;
  long failures_ = 0;
};

// This machine's name when it resolves into 127.0.0.0/8, else empty: a name
// that must be looked up and still reaches the loopback receiver.
std::string loopback_name();

}  // namespace bench
