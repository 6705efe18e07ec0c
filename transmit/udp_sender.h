// The block's network endpoint during a run: one IPv4 datagram socket, never
// connected, sending each buffer as exactly one datagram to Host:Port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/lock.h"
#include "platform/net.h"
#include "transmit/ipv4.h"

namespace sv {

class UdpSender {
 public:
  // Counts the sender in the socket layer, starting the platform library on
  // first use; raises SocketLayerStartFailed when it cannot be started.
  UdpSender();
  // Closes the socket if one is open.
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  // A literal host (LOCALHOST or a dotted address) is parsed here, once: it
  // has no resolution that could change. A name is looked up at every Send.
  void SetHost(std::u16string host);
  const std::u16string& Host() const { return host_; }
  // Inline: <windows.h> renames SetPort in the units that include it.
  void SetPort(std::uint16_t port) {
    port_ = port;
    literal_to_ = net::socket_address(literal_address_, port_);
  }
  std::uint16_t Port() const { return port_; }

  // true opens the socket (SocketError, CouldNotBindSocket), false closes it.
  void SetActive(bool active);
  bool Active() const { return socket_ != net::kNoSocket; }

  // Resolves Host, opens the socket if needed, and sends the buffer as one
  // datagram; an empty buffer sends nothing.
  inline void Send(const std::uint8_t* data, std::size_t size);

  // Settings this system keeps at their defaults: open() applies the first
  // three as they are.
  const std::u16string& BoundIP() const { return bound_ip_; }  // contract only: never set
  void SetBoundIP(std::u16string ip) { bound_ip_ = std::move(ip); }
  std::uint16_t BoundPort() const { return bound_port_; }  // contract only: never set
  void SetBoundPort(std::uint16_t port) { bound_port_ = port; }
  bool BroadcastEnabled() const { return broadcast_; }  // contract only: never set
  void SetBroadcastEnabled(bool on) { broadcast_ = on; }
  std::int32_t BufferSize() const { return buffer_size_; }  // contract only: never read
  void SetBufferSize(std::int32_t size) { buffer_size_ = size; }
  std::int32_t ReceiveTimeout() const { return receive_timeout_; }  // contract only: never read
  void SetReceiveTimeout(std::int32_t ms) { receive_timeout_ = ms; }

  // What the system assigned at bind; cleared when the socket closes.
  const std::u16string& local_address() const { return local_address_; }
  std::uint16_t local_port() const { return local_port_; }

 private:
  void open();
  void close();
  // A sendto that did not send `size` bytes: repeats an interrupted one,
  // and raises what the others mean.
  void finish_failed_send(const std::uint8_t* data, std::size_t size, const net::SocketAddress* to,
                          std::intptr_t sent);

  std::u16string host_;
  bool host_is_literal_ = false;
  net::Ipv4 literal_address_{};      // host_'s address when host_is_literal_,
  net::SocketAddress literal_to_{};  // and as a destination with port_
  std::uint16_t port_ = 0;
  std::u16string bound_ip_;
  std::uint16_t bound_port_ = 0;
  bool broadcast_ = false;
  std::int32_t buffer_size_ = 8192;
  std::int32_t receive_timeout_ = -2;

  net::SocketHandle socket_ = net::kNoSocket;
  std::u16string local_address_;
  std::uint16_t local_port_ = 0;
  platform::Lock close_lock_;
};

// A step's path: inline up to the system call, so that nothing of the
// plug-in but the export itself lies between the system's return and the
// host's (why: send_to in platform/net.h).
inline void UdpSender::Send(const std::uint8_t* data, std::size_t size) {
  net::SocketAddress named;
  const net::SocketAddress* to = &literal_to_;
  if (!host_is_literal_) {
    named = net::socket_address(lookup_name(host_), port_);
    to = &named;
  }
  if (!Active()) open();
  if (size == 0) return;
  const std::intptr_t sent = net::api().send_to(socket_, data, size, to);
  if (static_cast<std::size_t>(sent) != size) finish_failed_send(data, size, to, sent);
}

}  // namespace sv
