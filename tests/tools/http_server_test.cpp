// The live plot's HTTP server against plain clients over 127.0.0.1.

#include "tools/http_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/net.h"

namespace {

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
  explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
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
  const std::string& read_until(Done done) {
    const auto until = Clock::now() + kDeadline;
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

// A handler with one file, one echo of the request and one endless stream.
struct Site {
  std::atomic<int> streams_done{0};

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
    server_ = std::make_unique<Server>([this](const Request& r) { return site_(r); });
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

TEST(HttpRequest, ReadsTheRequestLineAndLastEventId) {
  Request r;
  ASSERT_TRUE(sv::recv::http::parse_request(
      "GET /events?x=1 HTTP/1.1\r\nHost: a\r\nlast-event-id:  42 \r\n\r\n", &r));
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.path, "/events");
  EXPECT_EQ(r.last_event_id, "42");
  ASSERT_TRUE(sv::recv::http::parse_request("HEAD / HTTP/1.0\r\n\r\n", &r));
  EXPECT_EQ(r.last_event_id, "");
  for (const char* bad : {"GET /\r\n\r\n", "GET / FTP/1.0\r\n\r\n",
                          "GET http://a/ HTTP/1.1\r\n\r\n", "nonsense", "GET  HTTP/1.1\r\n\r\n"})
    EXPECT_FALSE(sv::recv::http::parse_request(bad, &r)) << bad;
}

// Every response is whole, says its length and ends its connection.
TEST_F(HttpServer, AnswersEachRequestAndClosesTheConnection) {
  EXPECT_EQ(get("GET /file HTTP/1.1\r\nHost: x\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Cache-Control: no-store\r\nConnection: close\r\n\r\n0123456789");
  const std::string head = get("HEAD /file HTTP/1.1\r\n\r\n");
  EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("0123456789"), std::string::npos) << head;
  EXPECT_NE(get("GET /echo HTTP/1.1\r\nLast-Event-ID: 7\r\n\r\n").find("GET /echo [7]"),
            std::string::npos);
  EXPECT_EQ(get("GET /nothing HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  const std::string post = get("POST /file HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(post.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u) << post;
  EXPECT_NE(post.find("Allow: GET, HEAD\r\n"), std::string::npos) << post;
  EXPECT_EQ(get("hello\r\n\r\n").rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
  // A request that arrives in pieces is read whole.
  Client c(server_->port());
  c.send("GET /fi");
  std::this_thread::yield();
  c.send("le HTTP/1.1\r\n\r\n");
  EXPECT_NE(c.read_to_end().find("0123456789"), std::string::npos);
}

// Pages stream at the same time; one that goes away ends its own stream
// only.
TEST_F(HttpServer, StreamsToSeveralPagesAndLetsOneLeave) {
  Client first(server_->port()), second(server_->port());
  first.send("GET /events HTTP/1.1\r\n\r\n");
  second.send("GET /events HTTP/1.1\r\n\r\n");
  const auto pieces = [](std::size_t n) {
    return [n](const std::string& s) { return count_of(s, "data: ") >= n; };
  };
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
  streaming.send("GET /events HTTP/1.1\r\n\r\n");
  streaming.read_until([](const std::string& s) { return s.find("data: ") != std::string::npos; });
  auto stopped = std::async(std::launch::async, [this] { server_->stop(); });
  EXPECT_EQ(stopped.wait_for(kDeadline / 2), std::future_status::ready)
      << "stop() waited for the connections' time limit (10 s)";
  streaming.read_to_end();
  silent.read_to_end();
  EXPECT_TRUE(streaming.ended());
  EXPECT_TRUE(silent.ended());
  EXPECT_EQ(site_.streams_done, 1);
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
