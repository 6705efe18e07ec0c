// The win32 platform layer on its own: Winsock loaded at run time, started
// and stopped by each of a program's parts, both name lookups, the system's
// texts, the code page and the module's version.
#include <winsock2.h>

#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/text.h"
#include "base/wsa_codes.h"
#include "platform/codepage.h"
#include "platform/module_version.h"
#include "platform/net.h"
#include "platform/system_error.h"
#include "platform/win32/ws2.h"
#include "system/udp_probe.h"
#include "transmit/ipv4.h"
#include "transmit/socket_layer.h"
#include "transmit/udp_sender.h"

namespace {

using Receiver = svhost::UdpProbe;

// A program's parts start the socket library each for itself (here the
// test and its receiver): a part that stops leaves it started, its entries
// bound, for the others, and the last stop stops it. The first test of the
// program, so that no other part holds a start.
TEST(Win32Sockets, TheSocketLibraryStopsAtTheLastOfItsStarts) {
  const sv::net::Api& api = sv::net::platform_api();
  ASSERT_EQ(sv::net::win32::ws2_module(), nullptr);
  for (int round = 0; round < 2; ++round) {  // and binds its entries again after a stop
    ASSERT_EQ(api.start(), 0);
    std::uint16_t port = 0;
    {
      Receiver rx;
      port = rx.port();
    }
    const sv::net::SocketHandle s = api.open_dgram();
    ASSERT_NE(s, sv::net::kNoSocket) << api.last_error();
    const std::uint8_t byte = 1;
    const sv::net::SocketAddress to = sv::net::socket_address({{127, 0, 0, 1}}, port);
    EXPECT_EQ(api.send_to(s, &byte, 1, &to), 1) << api.last_error();
    api.shutdown_close(s);
    api.stop();
    EXPECT_EQ(sv::net::win32::ws2_module(), nullptr);
    EXPECT_EQ(api.open_dgram(), sv::net::kNoSocket);
    EXPECT_EQ(api.last_error(), WSANOTINITIALISED);
  }
}

TEST(Win32Sockets, SenderStartsWinsockWithoutImportingIt) {
  Receiver rx;
  sv::UdpSender sender;  // starts the socket layer: LoadLibrary + WSAStartup
  EXPECT_TRUE(sv::socket_layer::platform_started());
  EXPECT_TRUE(sv::net::win32::uses_getaddrinfo());
  sender.SetHost(u"127.0.0.1");
  sender.SetPort(rx.port());
  sender.SetActive(true);
  EXPECT_EQ(sender.local_address(), u"0.0.0.0");
  const std::uint8_t frame[3] = {1, 2, 3};
  sender.Send(frame, 3);
  sender.Send(frame, 2);
  std::uint16_t from1 = 0, from2 = 0;
  auto got = rx.receive(svhost::kArrivalMs, &from1);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (std::vector<std::uint8_t>{1, 2, 3}));
  got = rx.receive(svhost::kArrivalMs, &from2);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(from1, sender.local_port());
  EXPECT_EQ(from1, from2);
}

// The socket library's WSAIoctl is found by name and reached with both
// codes. Wine knows SIO_UDP_CONNRESET (its handler only reports success) but
// refuses SIO_UDP_NETRESET as not supported (10045), which the sender
// ignores; Windows turns both reports off.
TEST(Win32Sockets, BothIcmpReportCallsReachTheSocketLibrary) {
  sv::UdpSender sender;  // starts the socket layer
  const sv::net::Api& api = sv::net::platform_api();
  const sv::net::SocketHandle s = api.open_dgram();
  ASSERT_NE(s, sv::net::kNoSocket) << api.last_error();
  int r = api.set_icmp_report(s, sv::net::IcmpReport::PortUnreachable, 0);
  int e = api.last_error();
  EXPECT_EQ(r, 0) << "SIO_UDP_CONNRESET failed with " << e;
  r = api.set_icmp_report(s, sv::net::IcmpReport::TtlExpired, 0);
  e = api.last_error();
  EXPECT_TRUE(r == 0 || e == sv::wsa::kEopnotsupp) << "SIO_UDP_NETRESET failed with " << e;
  api.shutdown_close(s);
}

TEST(Win32Sockets, OversizedDatagramIsPackageSizeTooBig) {
  Receiver rx;
  sv::UdpSender sender;
  sender.SetHost(u"127.0.0.1");
  sender.SetPort(rx.port());
  std::vector<std::uint8_t> big(70000, 0x5A);
  try {
    sender.Send(big.data(), big.size());
    FAIL() << "no failure";
  } catch (const sv::PackageSizeTooBig& e) {
    EXPECT_EQ(e.message(), u"Package Size Too Big.");
  }
  // Nothing retried, socket still open and usable.
  EXPECT_TRUE(sender.Active());
  const std::uint8_t one = 7;
  sender.Send(&one, 1);
  auto got = rx.receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, std::vector<std::uint8_t>{7});
}

// Both lookups of the socket layer: GetAddrInfoW, and gethostbyname where
// the former is missing.
class Win32Lookup : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { sv::net::win32::allow_getaddrinfo(GetParam()); }
  void TearDown() override { sv::net::win32::allow_getaddrinfo(true); }
  sv::UdpSender sender_;  // keeps the socket layer started
};

TEST_P(Win32Lookup, MissingNameIsHostNotFound) {
  ASSERT_EQ(sv::net::win32::uses_getaddrinfo(), GetParam());
  try {
    sv::resolve_host(u"no-such-host.invalid");
    FAIL() << "resolved";
  } catch (const sv::SocketError& e) {
    EXPECT_EQ(e.code(), 11001);
    EXPECT_EQ(e.message(), u"Socket Error # 11001\r\nHost not found.");
  }
}

TEST_P(Win32Lookup, NameResolvesToItsFirstIpv4Address) {
  // The platform's lookup itself: the sender would take "localhost" as the
  // LOCALHOST word without asking.
  sv::net::LookupResult r = sv::net::api().lookup(u"localhost");
  ASSERT_EQ(r.status, sv::net::LookupStatus::Ok) << r.code;
  EXPECT_EQ(r.address.b[0], 127);
}

INSTANTIATE_TEST_SUITE_P(Both, Win32Lookup, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "GetAddrInfoW" : "gethostbyname"; });

TEST(Win32Platform, SystemTextsKeepTheirWordingWithoutTheLineBreak) {
  // (Wine has no system texts for the Windows Sockets codes.)
  for (int code : {2, 126, 1114}) {
    std::u16string text = sv::platform::system_error_text(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), u'\n') << code;
    EXPECT_NE(text.back(), u'\r') << code;
  }
  // The start failure's message is built on it.
  sv::SocketLayerStartFailed e(126, sv::platform::system_error_text(126));
  EXPECT_EQ(e.message(), u"Error on loading Winsock2 library (WS2_32.DLL): " +
                             sv::platform::system_error_text(126));
}

TEST(Win32Platform, AnsiCodePageUsesTheDefaultCharacterNotLookAlikes) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << GetACP();
  EXPECT_EQ(sv::platform::to_ansi(u"Gr\u00FC\u00DFe \u20AC"),
            "Gr\xFC\xDF"
            "e \x80");
  // a with macron has a best-fit "a" in 1252; the text must show it is lost.
  EXPECT_EQ(sv::platform::to_ansi(u"\u0101"), "?");
  EXPECT_EQ(sv::platform::from_ansi("\x80\xFC"), u"\u20AC\u00FC");
  EXPECT_EQ(sv::platform::to_failure_text(u"Ung\u00FCltig"), "Ung\xFCltig");
}

TEST(Win32Platform, ModuleVersionComesFromTheVersionResource) {
  // This program carries the same resource as the DLL.
  auto v = sv::platform::module_file_version();
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, u"1.0.0.67");
}

}  // namespace
