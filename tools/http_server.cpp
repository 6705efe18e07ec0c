#include "tools/http_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/wsa_codes.h"
#include "system/net.h"
#include "tools/waker.h"

namespace sv::recv::http {
namespace {

using Clock = std::chrono::steady_clock;

// When a client over the limit may try again: by then the head deadline has
// freed the slots that idle connections held.
constexpr int kRetryAfterSeconds = 5;
// A stream's send queue: a page that stops reading is found out once this
// and its own receive queue are full, not after megabytes.
constexpr int kStreamSendBuffer = 64 * 1024;
// Refused connections the acceptor reads to their end at once; a further
// one is closed at once.
constexpr std::size_t kMaxRefused = 16;

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 421: return "Misdirected Request";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The length of the head up to and with its empty line, or npos.
std::size_t head_end(std::string_view data) {
  const std::size_t lf = data.find("\n\n"), crlf = data.find("\n\r\n");
  return std::min(lf == std::string_view::npos ? lf : lf + 2,
                  crlf == std::string_view::npos ? crlf : crlf + 3);
}

int milliseconds_until(Clock::time_point t) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - Clock::now()).count();
  return us <= 0 ? 0 : static_cast<int>(std::min<long long>((us + 999) / 1000, 1 << 30));
}

// Sends all of data by `until`; false when the page is gone or too slow.
bool send_all(net::SocketHandle s, std::string_view data, Clock::time_point until) {
  while (!data.empty()) {
    if (Clock::now() >= until) return false;
    const std::intptr_t n = net::receive_api().send(s, data.data(), data.size());
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

Response plain(int status, std::string text) {
  Response r;
  r.status = status;
  r.type = "text/plain; charset=utf-8";
  r.body = std::move(text);
  return r;
}

// The start of a response: status line and headers, CR LF each.
std::string head_of(const Response& r, bool with_length) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) + "\r\n";
  if (!r.type.empty()) out += "Content-Type: " + r.type + "\r\n";
  if (with_length) out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
  if (r.status == 405) out += "Allow: GET, HEAD\r\n";
  if (r.status == 503) out += "Retry-After: " + std::to_string(kRetryAfterSeconds) + "\r\n";
  return out +
         "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
}

}  // namespace

std::string parse_request(std::string_view head, Request* request) {
  *request = Request{};
  std::size_t at = 0;
  const auto next_line = [&head, &at] {
    std::size_t end = head.find('\n', at);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(at, end - at);
    at = std::min(end + 1, head.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  };
  const std::string_view line = next_line();
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = line.rfind(' ');
  const std::string_view version = sp2 == std::string_view::npos ? "" : line.substr(sp2 + 1);
  if (sp1 == std::string_view::npos || sp2 <= sp1 + 1 || version.size() != 8 ||
      !version.starts_with("HTTP/1.") || version[7] < '0' || version[7] > '9')
    return "not an HTTP/1.x request";
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view authority;
  const bool absolute = target.size() > 7 && same_ignoring_case(target.substr(0, 7), "http://");
  if (absolute) {
    target.remove_prefix(7);
    const std::size_t path = std::min(target.find_first_of("/?#"), target.size());
    authority = target.substr(0, path);
    target.remove_prefix(path);
    if (authority.empty()) return "no host in the request target";
  } else if (!target.starts_with("/")) {
    return "the request target is neither a path nor an http URL";
  }
  request->method = std::string(line.substr(0, sp1));
  request->path = std::string(target.substr(0, target.find_first_of("?#")));
  if (request->path.empty()) request->path = "/";
  std::string_view host;
  int hosts = 0;
  for (std::string_view field = next_line(); !field.empty(); field = next_line()) {
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = trim(field.substr(0, colon));
    const std::string_view value = trim(field.substr(colon + 1));
    if (same_ignoring_case(name, "Host")) {
      host = value;
      ++hosts;
    } else if (same_ignoring_case(name, "Last-Event-ID")) {
      request->last_event_id = std::string(value);
    } else if (same_ignoring_case(name, "Origin")) {
      request->origin = std::string(value);
    }
  }
  if (hosts > 1) return "more than one Host header";
  if (hosts == 0 && version != "HTTP/1.0") return "no Host header";
  request->authority = std::string(absolute ? authority : host);
  return {};
}

struct Server::Impl {
  struct Connection {
    net::SocketHandle socket;
    Clock::time_point accepted;
    std::thread thread;
    std::atomic<bool> finished{false};
  };
  // A connection over the limit: answered 503 at once, then read to its
  // end, so that closing it with unread data does not reset it before the
  // client has read the answer.
  struct Refused {
    net::SocketHandle socket;
    Clock::time_point until;
  };
  enum class Head { Complete, Gone, Late, TooLarge };

  Impl(Handler h, Limits l) : handler(std::move(h)), limits(l) {}

  void accept_loop();
  void admit(net::SocketHandle s);
  void refuse(net::SocketHandle s, std::vector<Refused>* refused);
  void serve(Connection* c);
  // Answers the connection's request; *streaming tells, also after an
  // exception, whether it took a stream slot for its request slot.
  void answer(Connection* c, bool* streaming);
  Head read_head(net::SocketHandle s, Clock::time_point until, std::string* head);
  // Whether "host[:port]" names this server as the connection reached it.
  bool ours(net::SocketHandle s, std::string_view authority) const;
  // After the answer: reads what the client still sends until it closes,
  // for as long as a head may take.
  void linger(net::SocketHandle s);
  // Joins the threads of connections that are over.
  void reap();

  Handler handler;
  Limits limits;
  std::string host;  // as given to start()
  net::SocketHandle listener = net::kNoSocket;
  std::uint16_t port = 0;
  Waker waker;
  std::thread acceptor;
  std::atomic<bool> stopping{false};

  std::mutex mutex;  // guards what follows, and each connection's socket
  std::list<Connection> connections;
  std::size_t requests = 0;  // slots taken
  std::size_t streams = 0;
};

Server::Impl::Head Server::Impl::read_head(net::SocketHandle s, Clock::time_point until,
                                           std::string* head) {
  const net::SocketHandle waits[2] = {s, waker.socket()};
  char buf[4096];
  for (;;) {
    if (const std::size_t end = head_end(*head); end != std::string::npos) {
      head->resize(end);
      return end <= limits.head_bytes ? Head::Complete : Head::TooLarge;
    }
    if (head->size() >= limits.head_bytes) return Head::TooLarge;
    bool ready[2] = {false, false};
    const int n = net::receive_api().wait_readable(waits, 2, milliseconds_until(until), ready);
    if (n < 0 && !stopping && net::api().last_error() == wsa::kEintr) continue;
    if (stopping || n < 0) return Head::Gone;
    if (n == 0) return Head::Late;
    const std::intptr_t got = net::receive_api().receive(s, buf, sizeof buf);
    if (got <= 0) return Head::Gone;
    head->append(buf, static_cast<std::size_t>(got));
  }
}

bool Server::Impl::ours(net::SocketHandle s, std::string_view authority) const {
  net::Ipv4 a{};
  std::uint16_t local_port = 0;
  if (net::api().local_address(s, &a, &local_port) != 0) return false;
  std::string_view name = authority, port_text = "80";
  if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) {
    port_text = name.substr(colon + 1);
    name = name.substr(0, colon);
  }
  const std::string address = std::to_string(a.b[0]) + "." + std::to_string(a.b[1]) + "." +
                              std::to_string(a.b[2]) + "." + std::to_string(a.b[3]);
  return port_text == std::to_string(local_port) &&
         (name == address || same_ignoring_case(name, host) ||
          (a.b[0] == 127 && same_ignoring_case(name, "localhost")));
}

void Server::Impl::linger(net::SocketHandle s) {
  const net::ReceiveApi& api = net::receive_api();
  const net::SocketHandle waits[2] = {s, waker.socket()};
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(limits.head_ms);
  api.shutdown_send(s);
  char buf[4096];
  for (;;) {
    bool ready[2] = {false, false};
    if (api.wait_readable(waits, 2, milliseconds_until(until), ready) <= 0 || stopping ||
        api.receive(s, buf, sizeof buf) <= 0)
      return;
  }
}

void Server::Impl::answer(Connection* c, bool* streaming) {
  const net::SocketHandle s = c->socket;
  net::receive_api().set_timeouts(s, limits.send_ms);
  const auto piece_until = [this] {
    return Clock::now() + std::chrono::milliseconds(limits.send_ms);
  };
  std::string head;
  Request request;
  Response response;
  switch (read_head(s, c->accepted + std::chrono::milliseconds(limits.head_ms), &head)) {
    case Head::Gone: return;
    case Head::Late: response = plain(408, "the request took too long\n"); break;
    case Head::TooLarge: response = plain(431, "the request head is too large\n"); break;
    case Head::Complete:
      if (std::string error = parse_request(head, &request); !error.empty())
        response = plain(400, error + "\n");
      // No browser sends HTTP/1.0 without Host.
      else if (!request.authority.empty() && !ours(s, request.authority))
        response = plain(421, "this server answers only for its own address and port\n");
      else if (!request.origin.empty() &&
               !(request.origin.starts_with("http://") && ours(s, request.origin.substr(7))))
        response = plain(403, "this server answers only its own pages\n");
      else if (request.method != "GET" && request.method != "HEAD")
        response = plain(405, "only GET and HEAD\n");
      else response = handler(request);
  }
  // The handler's done() runs however this ends, also by an exception.
  struct Done {
    std::function<void()> f;
    ~Done() {
      try {
        if (f) f();
      } catch (const std::exception&) {}
    }
  } done{std::move(response.done)};
  const bool body = request.method != "HEAD";
  if (response.stream && response.status == 200) {
    std::lock_guard lock(mutex);
    if (streams < limits.streams) {
      ++streams;
      --requests;
      *streaming = true;
    }
  }
  if (!*streaming) {
    if (response.stream) response = plain(503, "too many open streams\n");
    if (send_all(s, head_of(response, true) + (body ? response.body : std::string()),
                 piece_until()))
      linger(s);
    return;
  }
  net::receive_api().set_send_buffer(s, kStreamSendBuffer);
  const Send send = [&](std::string_view piece) {
    return !stopping && send_all(s, piece, piece_until());
  };
  if (send_all(s, head_of(response, false), piece_until()) && body)
    while (!stopping && response.stream(send)) {}
}

void Server::Impl::serve(Connection* c) {
  bool streaming = false;
  try {
    answer(c, &streaming);
  } catch (const std::exception&) {
    // Memory ran out, or the handler failed: this connection ends, no other.
  }
  {
    std::lock_guard lock(mutex);
    --(streaming ? streams : requests);
    net::api().shutdown_close(c->socket);
    c->socket = net::kNoSocket;
  }
  c->finished = true;
}

void Server::Impl::reap() {
  std::lock_guard lock(mutex);
  for (auto it = connections.begin(); it != connections.end();) {
    if (it->finished) {
      it->thread.join();
      it = connections.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Impl::admit(net::SocketHandle s) {
  std::lock_guard lock(mutex);
  Connection& c = connections.emplace_back();
  c.socket = s;
  c.accepted = Clock::now();
  ++requests;
  try {
    c.thread = std::thread(&Impl::serve, this, &c);
  } catch (const std::exception&) {
    --requests;
    connections.pop_back();
    throw;
  }
}

void Server::Impl::refuse(net::SocketHandle s, std::vector<Refused>* refused) {
  const net::ReceiveApi& api = net::receive_api();
  api.set_blocking(s, 0);
  // A new connection's send queue is empty: the answer goes at once.
  const std::string answer =
      head_of(plain(503, "too many connections\n"), true) + "too many connections\n";
  api.send(s, answer.data(), answer.size());
  api.shutdown_send(s);
  if (refused->size() == kMaxRefused) {
    net::api().shutdown_close(refused->front().socket);
    refused->erase(refused->begin());
  }
  refused->push_back({s, Clock::now() + std::chrono::milliseconds(limits.head_ms)});
}

void Server::Impl::accept_loop() {
  const net::ReceiveApi& api = net::receive_api();
  std::vector<Refused> refused;
  while (!stopping) {
    reap();
    net::SocketHandle waits[2 + kMaxRefused] = {listener, waker.socket()};
    Clock::time_point until = Clock::time_point::max();
    for (std::size_t i = 0; i < refused.size(); ++i) {
      waits[2 + i] = refused[i].socket;
      until = std::min(until, refused[i].until);
    }
    bool ready[2 + kMaxRefused] = {};
    const int n = api.wait_readable(waits, 2 + refused.size(),
                                    refused.empty() ? -1 : milliseconds_until(until), ready);
    if (stopping) break;
    if (n < 0 && net::api().last_error() != wsa::kEintr) break;
    char buf[4096];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < refused.size(); ++i) {
      bool open = Clock::now() < refused[i].until;
      if (open && ready[2 + i]) {
        const std::intptr_t got = api.receive(refused[i].socket, buf, sizeof buf);
        open = got > 0 || (got < 0 && net::api().last_error() == wsa::kEwouldblock);
      }
      if (open) refused[kept++] = refused[i];
      else net::api().shutdown_close(refused[i].socket);
    }
    refused.resize(kept);
    if (n <= 0 || !ready[0]) continue;
    const net::SocketHandle s = api.accept(listener);
    if (s == net::kNoSocket) continue;  // the page gave up before it was taken
    bool admitted = false;
    {
      std::lock_guard lock(mutex);
      admitted = requests < limits.requests;
    }
    try {
      if (admitted) admit(s);
    } catch (const std::exception&) {
      admitted = false;  // no memory or thread for it
    }
    if (!admitted) refuse(s, &refused);
  }
  for (const Refused& r : refused) net::api().shutdown_close(r.socket);
}

Server::Server(Handler handler, Limits limits)
    : impl_(std::make_unique<Impl>(std::move(handler), limits)) {}

Server::~Server() { stop(); }

std::string Server::start(const std::string& host, std::uint16_t port) {
  Impl& d = *impl_;
  const net::Api& api = net::api();
  const net::ReceiveApi& rapi = net::receive_api();
  const std::string where = host + ":" + std::to_string(port);
  const net::LookupResult found = api.lookup(u16(host));
  if (found.status != net::LookupStatus::Ok)
    return "cannot resolve '" + host + "': " + net::error_text(found.code);
  if (std::string error = d.waker.open(); !error.empty()) return "socket: " + error;
  d.host = host;
  d.listener = rapi.open_stream();
  if (d.listener == net::kNoSocket || rapi.own_port(d.listener) != 0 ||
      api.bind(d.listener, found.address, port) != 0 || rapi.listen(d.listener) != 0)
    return "cannot bind the HTTP server to " + where + ": " + net::error_text(api.last_error());
  net::Ipv4 bound{};
  if (api.local_address(d.listener, &bound, &d.port) != 0)
    return "getsockname: " + net::error_text(api.last_error());
  d.acceptor = std::thread(&Impl::accept_loop, &d);
  return {};
}

std::uint16_t Server::port() const { return impl_->port; }

void Server::stop() {
  Impl& d = *impl_;
  if (d.stopping.exchange(true)) return;
  d.waker.wake();
  if (d.acceptor.joinable()) d.acceptor.join();
  {
    // A page that reads nothing keeps its sends blocked until this.
    std::lock_guard lock(d.mutex);
    for (auto& c : d.connections)
      if (c.socket != net::kNoSocket) net::receive_api().shutdown_both(c.socket);
  }
  for (auto& c : d.connections) c.thread.join();
  d.connections.clear();
  if (d.listener != net::kNoSocket) net::api().shutdown_close(d.listener);
  d.listener = net::kNoSocket;
}

}  // namespace sv::recv::http
