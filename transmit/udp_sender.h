// The block's network endpoint during a run: one IPv4 datagram socket, never
// connected, sending each buffer as exactly one datagram to Host:Port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/lock.h"
#include "platform/net.h"

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

  // Stored only; resolved at every Send.
  void SetHost(std::u16string host) { host_ = std::move(host); }
  const std::u16string& Host() const { return host_; }
  void SetPort(std::uint16_t port) { port_ = port; }
  std::uint16_t Port() const { return port_; }

  // true opens the socket (SocketError, CouldNotBindSocket), false closes it.
  void SetActive(bool active);
  bool Active() const { return socket_ != net::kNoSocket; }

  // Resolves Host, opens the socket if needed, and sends the buffer as one
  // datagram; an empty buffer sends nothing.
  void Send(const std::uint8_t* data, std::size_t size);

  // Settings this system keeps at their defaults.
  const std::u16string& BoundIP() const { return bound_ip_; }
  void SetBoundIP(std::u16string ip) { bound_ip_ = std::move(ip); }
  std::uint16_t BoundPort() const { return bound_port_; }
  void SetBoundPort(std::uint16_t port) { bound_port_ = port; }
  bool BroadcastEnabled() const { return broadcast_; }
  void SetBroadcastEnabled(bool on) { broadcast_ = on; }
  std::int32_t BufferSize() const { return buffer_size_; }
  void SetBufferSize(std::int32_t size) { buffer_size_ = size; }
  std::int32_t ReceiveTimeout() const { return receive_timeout_; }
  void SetReceiveTimeout(std::int32_t ms) { receive_timeout_ = ms; }

  // What the system assigned at bind; cleared when the socket closes.
  const std::u16string& local_address() const { return local_address_; }
  std::uint16_t local_port() const { return local_port_; }

 private:
  void open();
  void close();

  std::u16string host_;
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

}  // namespace sv
