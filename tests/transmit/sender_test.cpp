// The sender against real loopback sockets, and against a socket table with
// single entries replaced where the OS cannot be made to fail on demand.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/text.h"
#include "platform/net.h"
#include "system/udp_probe.h"
#include "tests/common/failure.h"
#include "tests/common/fake_net.h"
#include "tests/common/texts.h"
#include "transmit/socket_layer.h"
#include "transmit/udp_sender.h"
#include "udpsv_exports.h"

namespace {

using sv::net::Api;
using sv::net::IcmpReport;
using sv::net::Ipv4;
using sv::net::LookupResult;
using sv::net::LookupStatus;
using sv::net::SocketHandle;

using Receiver = svhost::UdpProbe;
using svtest::failure_of;

class SenderTest : public ::testing::Test {
 protected:
  std::unique_ptr<sv::UdpSender> sender_to(const Receiver& r, std::u16string host = u"127.0.0.1") {
    auto s = std::make_unique<sv::UdpSender>();
    s->SetHost(std::move(host));
    s->SetPort(r.port());
    return s;
  }

  svtest::FakeNet net_;
};

TEST_F(SenderTest, DefaultsAndOneDatagramPerSend) {
  Receiver r;
  sv::UdpSender s;
  EXPECT_EQ(s.Host(), u"");
  EXPECT_EQ(s.Port(), 0);
  EXPECT_EQ(s.BufferSize(), 8192);
  EXPECT_EQ(s.ReceiveTimeout(), -2);
  EXPECT_FALSE(s.BroadcastEnabled());
  EXPECT_FALSE(s.Active());
  s.SetHost(u"127.0.0.1");
  s.SetPort(r.port());
  const unsigned char payload[] = {1, 2, 3};
  s.Send(payload, 3);  // opens the socket itself
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(s.local_address(), u"0.0.0.0");
  EXPECT_NE(s.local_port(), 0);
  auto got = r.receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, std::vector<std::uint8_t>({1, 2, 3}));
}

TEST_F(SenderTest, BindsAnyAddressUnlessABoundIPIsSet) {
  Receiver r;
  auto s = sender_to(r);
  s->SetActive(true);
  EXPECT_EQ(net_.bound_to.b[0], 0);
  EXPECT_EQ(s->local_address(), u"0.0.0.0");
  s->SetActive(false);
  s->SetBoundIP(u"127.0.0.1");
  s->SetActive(true);
  EXPECT_EQ(net_.bound_to.b[0], 127);
  EXPECT_EQ(s->local_address(), u"127.0.0.1");
  s->SetActive(false);
  s->SetBoundIP(u"not an address");
  EXPECT_THROW(s->SetActive(true), sv::CouldNotBindSocket);
  EXPECT_TRUE(s->Active());
}

TEST_F(SenderTest, BroadcastOptionOnlyWhenEnabled) {
  Receiver r;
  auto s = sender_to(r);
  s->SetActive(true);
  EXPECT_EQ(net_.broadcast_calls, 0);  // the default never touches the option
  s->SetActive(false);
  s->SetBroadcastEnabled(true);
  s->SetActive(true);
  EXPECT_EQ(net_.broadcast_calls, 1);
  s->SetActive(false);
  net_.broadcast_error = 10042;
  EXPECT_EQ(failure_of([&] { s->SetActive(true); }),
            "Socket Error # 10042\r\nBad protocol option.");
}

TEST_F(SenderTest, LocalhostWordAndAddressesNeedNoLookup) {
  Receiver r;
  for (const char16_t* host :
       {u"localhost", u"LOCALHOST", u"LocalHost", u"127.0.0.1.", u" 127 . 0 . 0 . 1"}) {
    auto s = sender_to(r, host);
    const unsigned char b = 7;
    s->Send(&b, 1);
    EXPECT_TRUE(r.receive()) << sv::utf8(host);
  }
  EXPECT_EQ(net_.lookups, 0);
}

TEST_F(SenderTest, NamesAreLookedUpAtEverySend) {
  Receiver r;
  net_.lookup_answer = LookupResult{LookupStatus::Ok, {{127, 0, 0, 1}}, 0};
  auto s = sender_to(r, u"receiver.example");
  const unsigned char b = 1;
  s->Send(&b, 1);
  s->Send(&b, 1);
  EXPECT_EQ(net_.lookups, 2);
}

// The destination as the system would get it.
std::vector<std::uint8_t> destination(Ipv4 address, std::uint16_t port) {
  const sv::net::SocketAddress a = sv::net::socket_address(address, port);
  return std::vector<std::uint8_t>(a.bytes, a.bytes + sizeof a.bytes);
}

TEST_F(SenderTest, EveryHostAndPortChangeTakesEffectAtTheNextSend) {
  Receiver r;
  auto s = sender_to(r);
  const unsigned char b = 1;
  s->Send(&b, 1);
  EXPECT_TRUE(r.receive());
  EXPECT_EQ(net_.sent_to.back(), destination({{127, 0, 0, 1}}, r.port()));

  // From here the sends are recorded only: no traffic leaves 127.0.0.1.
  net_.record_only = true;
  s->SetHost(u"10.1.2.3");
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_to.back(), destination({{10, 1, 2, 3}}, r.port()));
  s->SetPort(4242);
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_to.back(), destination({{10, 1, 2, 3}}, 4242));
  EXPECT_EQ(net_.lookups, 0);

  // A name is looked up before every send, and each answer is used.
  net_.lookup_answer = LookupResult{LookupStatus::Ok, {{10, 9, 8, 7}}, 0};
  s->SetHost(u"receiver.example");
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_to.back(), destination({{10, 9, 8, 7}}, 4242));
  net_.lookup_answer = LookupResult{LookupStatus::Ok, {{10, 9, 8, 6}}, 0};
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_to.back(), destination({{10, 9, 8, 6}}, 4242));
  EXPECT_EQ(net_.lookups, 2);

  s->SetHost(u"LocalHost");
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_to.back(), destination({{127, 0, 0, 1}}, 4242));
  EXPECT_EQ(net_.lookups, 2);
}

TEST_F(SenderTest, AnInterruptedSendIsMadeAgain) {
  Receiver r;
  auto s = sender_to(r);
  net_.interruptions = 2;
  const unsigned char b = 9;
  s->Send(&b, 1);
  EXPECT_EQ(net_.sent_on.size(), 3u);
  auto got = r.receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, std::vector<std::uint8_t>({9}));
  EXPECT_FALSE(r.receive(svhost::kQuietMs));  // exactly one datagram
}

TEST_F(SenderTest, EmptyBufferResolvesAndOpensButSendsNothing) {
  Receiver r;
  auto s = sender_to(r);
  s->Send(nullptr, 0);
  EXPECT_TRUE(s->Active());
  EXPECT_TRUE(net_.sent_on.empty());
  EXPECT_FALSE(r.receive(svhost::kQuietMs));
}

TEST_F(SenderTest, ActivationOpensOneSocketAndReopensFresh) {
  Receiver r;
  auto s = sender_to(r);
  s->SetActive(true);
  s->SetActive(true);
  EXPECT_EQ(net_.opens, 1);
  std::uint16_t first = s->local_port();
  s->SetActive(false);
  s->SetActive(false);
  EXPECT_EQ(net_.closes, 1);
  EXPECT_EQ(s->local_port(), 0);
  EXPECT_EQ(s->local_address(), u"");
  s->SetActive(true);
  EXPECT_EQ(net_.opens, 2);
  EXPECT_NE(s->local_port(), 0);
  (void)first;
}

// Windows would fail a later sendto with 10054 or 10052 after an ICMP answer
// to an earlier datagram (no receiver yet, a route too long): both reports go
// off on every socket the sender opens, before anything is sent on it.
TEST_F(SenderTest, EverySocketHasBothIcmpReportsOff) {
  Receiver r;
  auto s = sender_to(r);
  const unsigned char b = 1;
  s->SetActive(true);
  s->Send(&b, 1);
  s->SetActive(false);
  s->Send(&b, 1);  // opens a socket itself
  s.reset();
  net_.bind_fails = true;  // the socket stays open and is used
  s = sender_to(r);
  EXPECT_THROW(s->SetActive(true), sv::CouldNotBindSocket);

  ASSERT_EQ(net_.opened.size(), 3u);
  for (std::size_t socket = 0; socket < net_.opened.size(); ++socket) {
    int port_unreachable = 0, ttl_expired = 0;
    for (const auto& call : net_.icmp_calls) {
      EXPECT_LT(call.socket, net_.opened.size()) << "a call on a socket the sender did not open";
      if (call.socket != socket) continue;
      EXPECT_EQ(call.on, 0) << "an ICMP report was turned on";
      if (call.report == IcmpReport::PortUnreachable) ++port_unreachable;
      if (call.report == IcmpReport::TtlExpired) ++ttl_expired;
    }
    EXPECT_EQ(port_unreachable, 1) << "socket " << socket + 1 << " of 3: SIO_UDP_CONNRESET calls";
    EXPECT_EQ(ttl_expired, 1) << "socket " << socket + 1 << " of 3: SIO_UDP_NETRESET calls";
  }
  EXPECT_EQ(net_.icmp_calls.size(), 6u);
}

// A system that refuses the calls (or has nothing to turn off) sends as
// before: the sender neither fails nor treats the socket differently.
TEST_F(SenderTest, AFailingIcmpReportCallChangesNothing) {
  Receiver r;
  net_.icmp_error = 10045;  // operation not supported
  auto s = sender_to(r);
  s->SetActive(true);
  EXPECT_TRUE(s->Active());
  EXPECT_NE(s->local_port(), 0);
  const unsigned char b = 3;
  s->Send(&b, 1);
  auto got = r.receive(10000);
  ASSERT_TRUE(got) << "nothing arrived after the failing calls";
  EXPECT_EQ(*got, std::vector<std::uint8_t>({3}));
  EXPECT_EQ(net_.opens, 1);
  EXPECT_EQ(net_.sent_on.size(), 1u);
  EXPECT_EQ(net_.closes, 0);
}

TEST_F(SenderTest, PortChangeKeepsTheLocalPort) {
  Receiver a, b;
  auto s = sender_to(a);
  s->SetActive(true);
  const unsigned char x = 1;
  s->Send(&x, 1);
  s->SetPort(b.port());
  s->Send(&x, 1);
  std::uint16_t from_a = 0, from_b = 0;
  ASSERT_TRUE(a.receive(svhost::kArrivalMs, &from_a));
  ASSERT_TRUE(b.receive(svhost::kArrivalMs, &from_b));
  EXPECT_EQ(from_a, from_b);
  EXPECT_EQ(from_a, s->local_port());
}

TEST_F(SenderTest, SocketCreationFailure) {
  net_.open_error = 10024;
  sv::UdpSender s;
  EXPECT_EQ(failure_of([&] { s.SetActive(true); }), "Socket Error # 10024\r\nToo many open files.");
  EXPECT_FALSE(s.Active());
  s.SetHost(u"127.0.0.1");
  EXPECT_EQ(failure_of([&] { s.Send(nullptr, 0); }),
            "Socket Error # 10024\r\nToo many open files.");
}

TEST_F(SenderTest, FailedBindLeavesAnOpenSocketThatTheNextSendUses) {
  Receiver r;
  net_.bind_fails = true;
  auto s = sender_to(r);
  EXPECT_EQ(failure_of([&] { s->SetActive(true); }),
            "Could not bind socket. Address and port are already in use.");
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(s->local_port(), 0);
  const unsigned char b = 5;
  s->Send(&b, 1);  // the system binds the socket at this send
  EXPECT_EQ(net_.opens, 1);
  EXPECT_TRUE(r.receive());
}

TEST_F(SenderTest, SendFailuresKeepTheSocketOpen) {
  Receiver r;
  auto s = sender_to(r);
  const unsigned char b = 5;

  net_.send_error = 10040;
  EXPECT_EQ(failure_of([&] { s->Send(&b, 1); }), "Package Size Too Big.");
  net_.send_error = 10051;
  EXPECT_EQ(failure_of([&] { s->Send(&b, 1); }), "Socket Error # 10051\r\nNetwork is unreachable.");
  net_.send_error = 11002;  // a code without text keeps the line break
  EXPECT_EQ(failure_of([&] { s->Send(&b, 1); }), "Socket Error # 11002\r\n");
  net_.send_error = 0;
  net_.short_by = 1;
  EXPECT_EQ(failure_of([&] { s->Send(&b, 1); }), "Not all bytes sent.");

  EXPECT_TRUE(s->Active());
  EXPECT_EQ(net_.opens, 1);
  ASSERT_EQ(net_.sent_on.size(), 4u);
  for (auto h : net_.sent_on) EXPECT_EQ(h, net_.sent_on.front());
}

TEST_F(SenderTest, RealOversizedDatagram) {
  Receiver r;
  auto s = sender_to(r);
  std::vector<unsigned char> big(70000, 0);
  EXPECT_THROW(s->Send(big.data(), big.size()), sv::PackageSizeTooBig);
}

TEST_F(SenderTest, LookupFailuresLeaveTheStateAsItWas) {
  Receiver r;
  auto s = sender_to(r, u"no-such-host.invalid");
  net_.lookup_answer = LookupResult{LookupStatus::SocketError, {}, 11001};
  EXPECT_EQ(failure_of([&] { s->Send(nullptr, 0); }), svtest::kHostNotFound);
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(net_.opens, 0);
  s->SetActive(true);
  EXPECT_THROW(s->Send(nullptr, 0), sv::SocketError);
  EXPECT_TRUE(s->Active());

  net_.lookup_answer = LookupResult{LookupStatus::SystemError, {}, 0};
  EXPECT_EQ(failure_of([&] { s->Send(nullptr, 0); }),
            "Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen");
  net_.lookup_answer = LookupResult{LookupStatus::SystemError, {}, 5};
  EXPECT_EQ(failure_of([&] { s->Send(nullptr, 0); }).rfind("Systemfehler.  Code: 5.\r\n", 0), 0u);
}

TEST_F(SenderTest, RealLookupOfAMissingName) {
  // The reserved .invalid domain never resolves; the resolver answers locally.
  auto s = std::make_unique<sv::UdpSender>();
  s->SetHost(u"no-such-host.invalid");
  const std::string text = failure_of([&] { s->Send(nullptr, 0); });
  EXPECT_TRUE(text == svtest::kHostNotFound || text == "Socket Error # 11002\r\n") << text;
}

// The platform library lives from the first live sender to the last, in
// any order of frees, and a start that failed is tried again by the next
// create.
TEST_F(SenderTest, SocketLayerLivesFromTheFirstSenderToTheLast) {
  ASSERT_EQ(sv::socket_layer::live_senders(), 0);
  ASSERT_FALSE(sv::socket_layer::platform_started());
  net_.start_error = 10091;
  try {
    sv::UdpSender s;
    ADD_FAILURE();
  } catch (const sv::SocketLayerStartFailed& e) {
    EXPECT_EQ(e.code(), 10091);
    EXPECT_EQ(sv::utf8(e.message()).rfind("Error on loading Winsock2 library (WS2_32.DLL): ", 0),
              0u);
  }
  EXPECT_EQ(sv::socket_layer::live_senders(), 0);
  net_.start_error = 0;
  {
    auto a = std::make_unique<sv::UdpSender>();
    auto b = std::make_unique<sv::UdpSender>();
    EXPECT_EQ(net_.starts, 2);  // the failed one, then once for both
    EXPECT_EQ(sv::socket_layer::live_senders(), 2);
    EXPECT_TRUE(sv::socket_layer::layer_object_exists());
    a.reset();  // any order
    EXPECT_TRUE(sv::socket_layer::layer_object_exists());
    EXPECT_EQ(net_.stops, 0);
  }
  EXPECT_EQ(sv::socket_layer::live_senders(), 0);
  EXPECT_FALSE(sv::socket_layer::layer_object_exists());
  EXPECT_FALSE(sv::socket_layer::platform_started());
  EXPECT_EQ(net_.stops, 1);
  sv::UdpSender again;
  EXPECT_EQ(net_.starts, 3);
  EXPECT_TRUE(sv::socket_layer::platform_started());
}

// The texts of the Windows Sockets codes, as a failure shows them; every
// other code has none and the message ends with its line break.
TEST(SocketErrorText, EachCodeOfTheTableAndNoOther) {
  const struct {
    int code;
    const char* text;
  } kTexts[] = {
      {10004, "Interrupted system call."},
      {10009, "Bad file number."},
      {10013, "Access denied."},
      {10014, "Buffer fault."},
      {10022, "Invalid argument."},
      {10024, "Too many open files."},
      {10035, "Operation would block."},
      {10036, "Operation now in progress."},
      {10037, "Operation already in progress."},
      {10038, "Socket operation on non-socket."},
      {10039, "Destination address required."},
      {10040, "Message too long."},
      {10041, "Protocol wrong type for socket."},
      {10042, "Bad protocol option."},
      {10043, "Protocol not supported."},
      {10044, "Socket type not supported."},
      {10045, "Operation not supported on socket."},
      {10046, "Protocol family not supported."},
      {10047, "Address family not supported by protocol family."},
      {10048, "Address already in use."},
      {10049, "Cannot assign requested address."},
      {10050, "Network is down."},
      {10051, "Network is unreachable."},
      {10052, "Net dropped connection or reset."},
      {10053, "Software caused connection abort."},
      {10054, "Connection reset by peer."},
      {10055, "No buffer space available."},
      {10056, "Socket is already connected."},
      {10057, "Socket is not connected."},
      {10058, "Cannot send or receive after socket is closed."},
      {10059, "Too many references, cannot splice."},
      {10060, "Connection timed out."},
      {10061, "Connection refused."},
      {10062, "Too many levels of symbolic links."},
      {10063, "File name too long."},
      {10064, "Host is down."},
      {10065, "No route to host."},
      {10066, "Directory not empty"},
      {11001, "Host not found."},
  };
  for (const auto& t : kTexts) {
    EXPECT_EQ(sv::utf8(sv::SocketError(t.code).message()),
              "Socket Error # " + std::to_string(t.code) + "\r\n" + t.text);
  }
  for (int code : {0, 8, 10000, 10010, 10023, 10067, 10109, 11002, 11003, 11004}) {
    EXPECT_EQ(sv::utf8(sv::SocketError(code).message()),
              "Socket Error # " + std::to_string(code) + "\r\n");
  }
}

// The native socket layer reports a failure's errno as the Windows Sockets
// code of its condition (10000 plus the BSD number), and an errno without
// such a condition as it is.
TEST(PlatformSocketErrors, ErrnoBecomesTheWindowsSocketsCodeOfItsCondition) {
  const struct {
    int error;
    int code;
  } kCodes[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EPERM, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {ENFILE, 10024},
      {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10036},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},
      {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},
      {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {ENOBUFS, 10055},
      {ENOMEM, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},
      {EPIPE, 10058},
      {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {ELOOP, 10062},
      {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},
      {ENOENT, ENOENT},
      {EIO, EIO},
  };
  const Api& system = sv::net::platform_api();
  for (const auto& c : kCodes) {
    errno = c.error;
    EXPECT_EQ(system.last_error(), c.code)
        << "errno " << c.error << " (" << std::strerror(c.error) << ")";
  }

  // Two real failures: a port that is taken, and a descriptor that is no socket.
  Receiver taken;
  SocketHandle s = system.open_dgram();
  ASSERT_NE(s, sv::net::kNoSocket);
  EXPECT_EQ(system.bind(s, {{127, 0, 0, 1}}, taken.port()), -1);
  EXPECT_EQ(system.last_error(), 10048);
  system.shutdown_close(s);
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const sv::net::SocketAddress to = sv::net::socket_address({{127, 0, 0, 1}}, taken.port());
  const unsigned char b = 1;
  EXPECT_EQ(system.send_to(static_cast<SocketHandle>(pipe_ends[1]), &b, 1, &to), -1);
  EXPECT_EQ(system.last_error(), 10038);
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
}

}  // namespace
