// The live plot's HTTP/1.1 server, over the platform layer's sockets on both
// systems: GET (and HEAD) of a few resources, and streams that stay open
// (Server-Sent Events) for several pages at once. Each connection carries
// one request and ends with its response (Connection: close), in a thread
// of its own, so that a slow page holds up nothing but itself.
//
// It holds against clients that are slow, idle, many or hostile:
// - a connection has Limits::head_ms from its accept to the end of its
//   request head, and Limits::head_bytes of head (else 408 or 431);
// - requests and streams have slots of their own, so that connections that
//   send nothing cannot keep a page's stream out, nor open pages a request;
//   over either limit the answer is 503 with Retry-After;
// - a stream whose page takes no piece for Limits::send_ms ends;
// - it answers only requests for its own origin (421 otherwise), so that a
//   web page elsewhere whose name a DNS server turns into this address reads
//   nothing, and only requests from pages of its own origin (403 otherwise),
//   so that no other page holds a slot; it sends no CORS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sv::recv::http {

struct Limits {
  std::size_t requests = 64;  // connections reading or answering a request
  std::size_t streams = 16;   // open streams
  std::size_t head_bytes = 16384;
  int head_ms = 5000;  // from accept to the end of the head
  int send_ms = 5000;  // the longest a page may take to take one piece
};

struct Request {
  std::string method;
  std::string path;           // without the query
  std::string last_event_id;  // the Last-Event-ID header; empty when absent
  // What the request is for, "host[:port]": an absolute target's
  // authority, else the Host header; empty only for HTTP/1.0 without one.
  std::string authority;
  std::string origin;  // the Origin header: the page that asks, if another
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
  explicit Server(Handler handler, Limits limits = {});
  ~Server();  // stop()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds host (an IPv4 address or a name) and port (0: one the system
  // picks), then serves from a thread of its own. Requests may name the
  // bound address, host as given, or localhost on 127.0.0.0/8, each with
  // the port. Empty on success, else why not. Needs the socket library
  // started.
  std::string start(const std::string& host, std::uint16_t port);
  std::uint16_t port() const;

  // Stops accepting, ends every open connection and waits for their threads.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Parses a request head up to its empty line; lines may end in CR LF or a
// bare LF. Empty on success, else why it is no request this server takes.
std::string parse_request(std::string_view head, Request* request);

}  // namespace sv::recv::http
