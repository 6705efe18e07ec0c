// The socket table as the tests give it to the sender: the platform's own,
// counted, with single failures forced where the system cannot be made to
// fail on demand. Installed while the object lives; one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/net.h"

namespace svtest {

class FakeNet {
 public:
  using SocketHandle = sv::net::SocketHandle;

  FakeNet() {
    current_ = this;
    sv::net::Api& api = sv::net::api();
    api.start = start;
    api.stop = stop;
    api.open_dgram = open_dgram;
    api.bind = bind;
    api.send_to = send_to;
    api.set_broadcast = set_broadcast;
    api.set_icmp_report = set_icmp_report;
    api.shutdown_close = shutdown_close;
    api.last_error = last_error;
    api.lookup = lookup;
  }
  ~FakeNet() {
    sv::net::api() = sv::net::platform_api();
    current_ = nullptr;
  }
  FakeNet(const FakeNet&) = delete;
  FakeNet& operator=(const FakeNet&) = delete;

  // What the sender did.
  int starts = 0, stops = 0, lookups = 0, opens = 0, closes = 0, broadcast_calls = 0;
  std::vector<SocketHandle> opened;                // each socket open_dgram gave
  std::vector<SocketHandle> sent_on;               // each send's socket
  std::vector<std::vector<std::uint8_t>> sent_to;  // each send's destination
  sv::net::Ipv4 bound_to{{9, 9, 9, 9}};
  struct IcmpCall {
    std::size_t socket;  // index in `opened`; handles are reused
    sv::net::IcmpReport report;
    int on;
  };
  std::vector<IcmpCall> icmp_calls;

  // Failures: a non-zero code fails the call with it.
  int start_error = 0, open_error = 0, send_error = 0, broadcast_error = 0, icmp_error = 0;
  bool bind_fails = false;
  int interruptions = 0;     // sends still to fail as interrupted before they sent anything
  bool record_only = false;  // sends are recorded but never reach the system
  std::intptr_t short_by = 0;
  std::optional<sv::net::LookupResult> lookup_answer;  // in place of the system's
  // Code that is not the library's, run inside start, stop and lookup after
  // the system's part.
  std::function<void()> inside;

 private:
  static const sv::net::Api& system() { return sv::net::platform_api(); }
  static void run_inside() {
    if (current_->inside) current_->inside();
  }
  static int fail(int code) {
    current_->error_ = code;
    return -1;
  }

  static int start() {
    FakeNet& f = *current_;
    ++f.starts;
    if (f.start_error) return f.start_error;
    const int code = system().start();
    run_inside();
    return code;
  }
  static void stop() {
    ++current_->stops;
    system().stop();
    run_inside();
  }
  static SocketHandle open_dgram() {
    FakeNet& f = *current_;
    ++f.opens;
    f.error_ = 0;
    if (f.open_error) {
      f.error_ = f.open_error;
      return sv::net::kNoSocket;
    }
    const SocketHandle s = system().open_dgram();
    if (s != sv::net::kNoSocket) f.opened.push_back(s);
    return s;
  }
  static int bind(SocketHandle s, sv::net::Ipv4 address, std::uint16_t port) {
    if (current_->bind_fails) return -1;
    current_->bound_to = address;
    return system().bind(s, address, port);
  }
  static std::intptr_t send_to(SocketHandle s, const void* data, std::size_t size,
                               const sv::net::SocketAddress* to) {
    FakeNet& f = *current_;
    f.sent_on.push_back(s);
    f.sent_to.emplace_back(to->bytes, to->bytes + sizeof to->bytes);
    if (f.interruptions > 0) {
      --f.interruptions;
      return fail(10004);
    }
    if (f.record_only) return static_cast<std::intptr_t>(size);
    if (f.send_error) return fail(f.send_error);
    f.error_ = 0;
    return system().send_to(s, data, size, to) - f.short_by;
  }
  static int set_broadcast(SocketHandle s, int on) {
    FakeNet& f = *current_;
    ++f.broadcast_calls;
    return f.broadcast_error ? fail(f.broadcast_error) : system().set_broadcast(s, on);
  }
  static int set_icmp_report(SocketHandle s, sv::net::IcmpReport report, int on) {
    FakeNet& f = *current_;
    const bool last = !f.opened.empty() && f.opened.back() == s;
    f.icmp_calls.push_back({last ? f.opened.size() - 1 : f.opened.size(), report, on});
    return f.icmp_error ? fail(f.icmp_error) : system().set_icmp_report(s, report, on);
  }
  static void shutdown_close(SocketHandle s) {
    ++current_->closes;
    system().shutdown_close(s);
  }
  static int last_error() { return current_->error_ ? current_->error_ : system().last_error(); }
  static sv::net::LookupResult lookup(std::u16string_view name) {
    FakeNet& f = *current_;
    ++f.lookups;
    run_inside();
    return f.lookup_answer ? *f.lookup_answer : system().lookup(name);
  }

  static inline FakeNet* current_ = nullptr;
  int error_ = 0;  // the failure last forced, for last_error()
};

}  // namespace svtest
