// The live plot's HTTP/1.1 server, over the platform layer's sockets on both
// systems: GET (and HEAD) of a few resources, and streams that stay open
// (Server-Sent Events) for several pages at once. Each connection carries
// one request and ends with its response (Connection: close), in a thread
// of its own, so that a slow page holds up nothing but itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sv::recv::http {

struct Request {
  std::string method;
  std::string path;           // without the query
  std::string last_event_id;  // the Last-Event-ID header; empty when absent
};

// Sends one piece of a stream; false once the page is gone.
using Send = std::function<bool(std::string_view)>;

struct Response {
  int status = 200;
  std::string type;  // Content-Type
  std::string body;
  // A stream instead of a body: after the head the server calls it on the
  // connection's thread, again and again, until it returns false. The body
  // then ends with the connection. It must return within a second or so
  // once the server stops.
  std::function<bool(const Send&)> stream;
  // Called when the connection is over, however it ended.
  std::function<void()> done;
};

using Handler = std::function<Response(const Request&)>;

class Server {
 public:
  explicit Server(Handler handler);
  ~Server();  // stop()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds host (an IPv4 address or a name) and port (0: one the system
  // picks), then serves from a thread of its own. Empty on success, else
  // why not. Needs the socket library started.
  std::string start(const std::string& host, std::uint16_t port);
  std::uint16_t port() const;

  // Stops accepting, ends every open connection and waits for their threads.
  void stop();

  // The start of a response: status line and headers, CR LF each.
  static std::string head(const Response& response, bool with_length);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Parses the head of a request, up to the empty line. False when it is no
// HTTP/1.x request line.
bool parse_request(std::string_view head, Request* request);

}  // namespace sv::recv::http
