// The live plot's HTTP server against plain clients over 127.0.0.1.

#include "tools/http_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "system/net.h"

namespace {

using sv::recv::http::Limits;
using sv::recv::http::Request;
using sv::recv::http::Response;
using sv::recv::http::Send;
using sv::recv::http::Server;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous for a loaded machine; every wait ends as soon as its condition holds.
constexpr auto kDeadline = 20s;

class Client {
 public:
  // Connects and sends `request` at once, before the server's deadline for
  // a head could run out.
  explicit Client(std::uint16_t port, const std::string& request = "")
      : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    send(request);
  }
  ~Client() { close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return connected_; }
  void send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Reads until `done(received)` holds or the server ends the connection;
  // what came so far. ended() tells whether the end was seen.
  template <class Done>
  const std::string& read_until(Done done, Clock::duration most = kDeadline) {
    const auto until = Clock::now() + most;
    while (!ended_ && !done(received_) && Clock::now() < until) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) ended_ = true;
      else received_.append(buf, static_cast<std::size_t>(n));
    }
    return received_;
  }
  const std::string& read_to_end() {
    return read_until([](const std::string&) { return false; });
  }
  bool ended() const { return ended_; }

 private:
  int fd_;
  bool connected_ = false;
  bool ended_ = false;
  std::string received_;
};

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string request(const std::string& target, std::uint16_t port, const std::string& more = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + more +
         "\r\n";
}

const auto pieces = [](std::size_t n) {
  return [n](const std::string& s) { return count_of(s, "data: ") >= n; };
};

// A handler with one file, one echo of the request, one endless stream of
// small pieces and one of large pieces, and one that runs out of memory.
struct Site {
  std::atomic<int> streams_done{0};
  std::atomic<int> large_done{0};

  Response operator()(const Request& request) {
    Response r;
    if (request.path == "/file") {
      r.type = "text/plain";
      r.body = "0123456789";
    } else if (request.path == "/echo") {
      r.body = request.method + " " + request.path + " [" + request.last_event_id + "]";
    } else if (request.path == "/events") {
      r.type = "text/event-stream";
      auto n = std::make_shared<int>(0);
      r.stream = [n](const Send& send) {
        std::this_thread::sleep_for(5ms);
        return send("data: " + std::to_string(++*n) + "\n\n");
      };
      r.done = [this] { ++streams_done; };
    } else if (request.path == "/large") {
      r.stream = [](const Send& send) { return send(std::string(65536, 'x')); };
      r.done = [this] { ++large_done; };
    } else if (request.path == "/throw") {
      throw std::bad_alloc();
    } else {
      r.status = 404;
    }
    return r;
  }
};

class HttpServer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sv::net::api().start(), 0);
    restart({});
  }
  void restart(const Limits& limits) {
    server_.reset();
    server_ = std::make_unique<Server>([this](const Request& r) { return site_(r); }, limits);
    ASSERT_EQ(server_->start("127.0.0.1", 0), "");
    ASSERT_NE(server_->port(), 0);
  }
  void TearDown() override {
    server_.reset();
    sv::net::api().stop();
  }
  std::string get(const std::string& request) {
    Client c(server_->port());
    EXPECT_TRUE(c.connected());
    c.send(request);
    std::string response = c.read_to_end();
    EXPECT_TRUE(c.ended()) << "the server left the connection open after: " << response;
    return response;
  }

  Site site_;
  std::unique_ptr<Server> server_;
};

TEST(HttpRequest, ReadsHeadsOfEitherLineEndAndTargetForm) {
  using sv::recv::http::parse_request;
  Request r;
  EXPECT_EQ(parse_request("GET /e?x=1 HTTP/1.1\r\nHost: a:1\r\nlast-event-id:  42 \r\n\r\n", &r),
            "");
  EXPECT_EQ(r.method + r.path + "|" + r.last_event_id + "|" + r.authority, "GET/e|42|a:1");
  // Bare LF; an absolute target's authority counts, not the Host header's.
  EXPECT_EQ(parse_request("GET HTTP://b:2?q HTTP/1.1\nHost: a:1\n\n", &r), "");
  EXPECT_EQ(r.path + "|" + r.authority, "/|b:2");
  EXPECT_EQ(parse_request("HEAD / HTTP/1.0\r\n\r\n", &r), "");  // no Host needed
  EXPECT_EQ(r.authority + r.last_event_id, "");
  for (const char* bad :
       {"GET /\r\n\r\n", "GET / FTP/1.0\r\n\r\n", "GET ftp://a/ HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET http:/// HTTP/1.1\r\nHost: a\r\n\r\n", "nonsense", "GET  HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"})
    EXPECT_NE(parse_request(bad, &r), "") << bad;
}

// Every response is whole, says its length and ends its connection; only
// requests for the server's own origin are answered.
TEST_F(HttpServer, AnswersEachRequestAndClosesTheConnection) {
  const std::uint16_t port = server_->port();
  const std::string at = ":" + std::to_string(port);
  EXPECT_EQ(get(request("/file", port)),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n"
            "\r\n0123456789");
  const std::string head = get("HEAD /file HTTP/1.1\r\nHost: localhost" + at + "\r\n\r\n");
  EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("0123456789"), std::string::npos) << head;
  EXPECT_NE(get(request("/echo", port, "Last-Event-ID: 7\r\n")).find("GET /echo [7]"),
            std::string::npos);
  const auto status = [this](const std::string& request) {
    const std::string response = get(request);
    return response.substr(0, response.find("\r\n"));
  };
  EXPECT_EQ(status("GET /file HTTP/1.1\nHost: 127.0.0.1" + at + "\n\n"), "HTTP/1.1 200 OK");
  EXPECT_EQ(status("GET http://LocalHost" + at + "/file HTTP/1.1\r\nHost: x\r\n\r\n"),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(status("GET /file HTTP/1.0\r\n\r\n"), "HTTP/1.1 200 OK");
  EXPECT_EQ(status("GET /file HTTP/1.1\r\n\r\n"), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(status("GET /file HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
            "HTTP/1.1 421 Misdirected Request");
  EXPECT_EQ(status("GET http://evil.example" + at + "/file HTTP/1.1\r\nHost: 127.0.0.1" + at +
                   "\r\n\r\n"),
            "HTTP/1.1 421 Misdirected Request");
  EXPECT_EQ(status(request("/file", port, "Origin: http://localhost" + at + "\r\n")),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(status(request("/file", port, "Origin: http://evil.example" + at + "\r\n")),
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(status(request("/nothing", port)), "HTTP/1.1 404 Not Found");
  const std::string post = get("POST /file HTTP/1.1\r\nHost: 127.0.0.1" + at + "\r\n\r\n");
  EXPECT_EQ(post.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u) << post;
  EXPECT_NE(post.find("Allow: GET, HEAD\r\n"), std::string::npos) << post;
  EXPECT_EQ(status("hello\r\n\r\n"), "HTTP/1.1 400 Bad Request");
  // A request that arrives in pieces is read whole.
  Client c(port, "GET /fi");
  std::this_thread::yield();
  c.send("le HTTP/1.1\r\nHost: 127.0.0.1" + at + "\r\n\r\n");
  EXPECT_NE(c.read_to_end().find("0123456789"), std::string::npos);
}

// Pages stream at the same time; one that goes away ends its own stream
// only.
TEST_F(HttpServer, StreamsToSeveralPagesAndLetsOneLeave) {
  Client first(server_->port()), second(server_->port());
  first.send(request("/events", server_->port()));
  second.send(request("/events", server_->port()));
  const std::string& got = first.read_until(pieces(3));
  EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n", 0), 0u) << got;
  EXPECT_EQ(got.find("Content-Length"), std::string::npos) << got;
  EXPECT_GE(count_of(second.read_until(pieces(3)), "data: "), 3u);

  first.close();
  const auto until = Clock::now() + kDeadline;
  while (site_.streams_done == 0 && Clock::now() < until) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(site_.streams_done, 1) << "the server did not notice the page that left";
  const std::size_t before = count_of(second.read_until(pieces(0)), "data: ");
  EXPECT_GE(count_of(second.read_until(pieces(before + 3)), "data: "), before + 3)
      << "the other page stopped getting its stream";
  EXPECT_FALSE(second.ended());
}

// stop() ends open streams and connections that never sent a request,
// without waiting for their time limits.
TEST_F(HttpServer, StopEndsStreamsAndSilentConnections) {
  Client streaming(server_->port()), silent(server_->port());
  ASSERT_TRUE(silent.connected());
  streaming.send(request("/events", server_->port()));
  streaming.read_until([](const std::string& s) { return s.find("data: ") != std::string::npos; });
  auto stopped = std::async(std::launch::async, [this] { server_->stop(); });
  EXPECT_EQ(stopped.wait_for(kDeadline / 2), std::future_status::ready)
      << "stop() waited for the connections' time limits";
  streaming.read_to_end();
  silent.read_to_end();
  EXPECT_TRUE(streaming.ended());
  EXPECT_TRUE(silent.ended());
  EXPECT_EQ(site_.streams_done, 1);
}

// The UDP ports of this process, for a stray datagram to each (Linux: its
// sockets' inodes in /proc/self/fd, their ports in /proc/net/udp).
std::string udp_ports() {
  std::set<std::string> inodes;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    const std::string target = std::filesystem::read_symlink(fd.path(), ignored).string();
    if (target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::ifstream table("/proc/net/udp");
  std::string line, ports, field[10];
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    for (auto& f : field) fields >> f;  // sl local remote st queues tr retr uid timeout inode
    if (!inodes.count(field[9])) continue;
    const int port = std::stoi(field[1].substr(field[1].find(':') + 1), nullptr, 16);
    ports += " " + std::to_string(port);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    ::sendto(s, "stray", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(s);
  }
  return "datagram ports:" + (ports.empty() ? std::string(" none") : ports);
}

// Each hostile client against a server with small limits while a page
// streams: the client gets its answer, the page keeps getting its pieces,
// and a new request is answered again afterwards.
TEST_F(HttpServer, HoldsAgainstHostileClients) {
  Limits quick;
  quick.head_ms = 1000;
  quick.send_ms = 300;
  quick.head_bytes = 1024;
  Limits few = quick;
  few.requests = 2;
  few.streams = 1;
  few.head_ms = 60000;  // idle connections hold their slots for the row
  using Attack = std::function<std::string(std::uint16_t, Site&)>;
  const struct {
    const char* name;
    Limits limits;
    Attack attack;
    const char* answer;  // its start
    const char* header;  // somewhere in it
  } rows[] = {
      {"slow head", quick,
       [](std::uint16_t port, Site&) {
         // A byte now and then does not put the deadline off.
         Client c(port, "GET /file HTTP/1.1\r\n");
         while (!c.ended() && c.read_until([](auto& s) { return !s.empty(); }, 50ms).empty())
           c.send("X");
         return c.read_to_end();
       },
       "HTTP/1.1 408 Request Timeout\r\n", "Connection: close"},
      {"idle", quick, [](std::uint16_t port, Site&) { return Client(port).read_to_end(); },
       "HTTP/1.1 408 Request Timeout\r\n", ""},
      {"over the connection limit", few,
       [](std::uint16_t port, Site&) {
         Client idle1(port), idle2(port);
         return Client(port, request("/file", port)).read_to_end();
       },
       "HTTP/1.1 503 Service Unavailable\r\n", "\r\nRetry-After: 5\r\n"},
      {"over the stream limit", few,
       [](std::uint16_t port, Site&) {
         return Client(port, request("/events", port)).read_to_end();
       },
       "HTTP/1.1 503 Service Unavailable\r\n", "\r\nRetry-After: 5\r\n"},
      {"never reading", quick,
       [](std::uint16_t port, Site& site) {
         Client c(port, request("/large", port));
         const auto until = Clock::now() + kDeadline;
         while (site.large_done == 0 && Clock::now() < until) std::this_thread::sleep_for(10ms);
         return site.large_done == 1 ? "its stream ended" : "its stream goes on";
       },
       "its stream ended", ""},
      {"foreign Host", quick,
       [](std::uint16_t port, Site&) {
         return Client(port, "GET /file HTTP/1.1\r\nHost: evil.example:" + std::to_string(port) +
                                 "\r\n\r\n")
             .read_to_end();
       },
       "HTTP/1.1 421 Misdirected Request\r\n", "\r\nX-Content-Type-Options: nosniff\r\n"},
      {"oversized head", quick,
       [](std::uint16_t port, Site&) {
         Client c(port, request("/file", port, "X: " + std::string(2000, 'x') + "\r\n"));
         return c.read_to_end();
       },
       "HTTP/1.1 431 Request Header Fields Too Large\r\n", ""},
      {"out of memory in its handler", quick,
       [](std::uint16_t port, Site&) {
         Client c(port, request("/throw", port));
         return c.read_to_end().empty() && c.ended() ? "closed" : "not closed";
       },
       "closed", ""},
      {"stray wake-up datagram", quick, [](std::uint16_t, Site&) { return udp_ports(); },
       "datagram ports: none", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    restart(row.limits);
    const std::uint16_t port = server_->port();
    Client page(port, request("/events", port));
    const std::size_t before = count_of(page.read_until(pieces(1)), "data: ");
    const std::string got = row.attack(port, site_);
    EXPECT_EQ(got.substr(0, std::strlen(row.answer)), row.answer) << got;
    EXPECT_NE(got.find(row.header), std::string::npos) << got;
    EXPECT_GE(count_of(page.read_until(pieces(before + 3)), "data: "), before + 3)
        << "the page stopped getting its stream";
    std::string again;
    for (const auto until = Clock::now() + kDeadline;
         again.find("0123456789") == std::string::npos && Clock::now() < until;)
      again = get(request("/file", port));  // 503 until the server saw the hostile ones go
    EXPECT_NE(again.find("0123456789"), std::string::npos) << again;
  }
}

TEST_F(HttpServer, ReportsAPortThatIsTaken) {
  Server other([](const Request&) { return Response{}; });
  const std::string error = other.start("127.0.0.1", server_->port());
  EXPECT_NE(error.find("cannot bind the HTTP server to 127.0.0.1:" +
                       std::to_string(server_->port()) + ": Address already in use"),
            std::string::npos)
      << error;
  EXPECT_NE(Server([](const Request&) { return Response{}; })
                .start("no..such..host", 0)
                .find("cannot resolve 'no..such..host'"),
            std::string::npos);
}

}  // namespace
