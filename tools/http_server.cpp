#include "tools/http_server.h"

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

#include "base/text.h"
#include "base/wsa_codes.h"
#include "platform/net.h"
#include "tools/waker.h"

namespace sv::recv::http {
namespace {

// Longest wait for a page's request, and for a page to take a piece of a
// response; a page that takes longer loses its connection.
constexpr int kIoTimeoutMs = 10000;
// Longest request head; a longer one is refused.
constexpr std::size_t kMaxHead = 16384;
// Connections at once: a stream per open page and the pages' requests. One
// more is closed at once.
constexpr std::size_t kMaxConnections = 48;

constexpr int kBadRequest = 400;
constexpr int kMethodNotAllowed = 405;

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case kBadRequest: return "Bad Request";
    case 404: return "Not Found";
    case kMethodNotAllowed: return "Method Not Allowed";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool send_all(net::SocketHandle s, std::string_view data) {
  while (!data.empty()) {
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

}  // namespace

bool parse_request(std::string_view head, Request* request) {
  std::size_t eol = head.find("\r\n");
  if (eol == std::string_view::npos) return false;
  const std::string_view line = head.substr(0, eol);
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = line.rfind(' ');
  if (sp1 == std::string_view::npos || sp2 <= sp1 + 1) return false;
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (!line.substr(sp2 + 1).starts_with("HTTP/1.") || !target.starts_with("/")) return false;
  request->method = std::string(line.substr(0, sp1));
  request->path = std::string(target.substr(0, target.find_first_of("?#")));
  request->last_event_id.clear();
  for (std::size_t at = eol + 2; at < head.size();) {
    std::size_t end = head.find("\r\n", at);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view field = head.substr(at, end - at);
    at = end + 2;
    const std::size_t colon = field.find(':');
    if (colon != std::string_view::npos &&
        same_ignoring_case(trim(field.substr(0, colon)), "Last-Event-ID"))
      request->last_event_id = std::string(trim(field.substr(colon + 1)));
  }
  return true;
}

std::string Server::head(const Response& r, bool with_length) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) + "\r\n";
  if (!r.type.empty()) out += "Content-Type: " + r.type + "\r\n";
  if (with_length) out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
  if (r.status == kMethodNotAllowed) out += "Allow: GET, HEAD\r\n";
  return out + "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
}

struct Server::Impl {
  struct Connection {
    net::SocketHandle socket;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  explicit Impl(Handler h) : handler(std::move(h)) {}

  void accept_loop();
  void serve(Connection* c);
  // Reads the request head; false when the page sent none in time or the
  // server stops.
  bool read_head(net::SocketHandle s, std::string* head);
  // Joins the threads of connections that are over.
  void reap();

  Handler handler;
  net::SocketHandle listener = net::kNoSocket;
  std::uint16_t port = 0;
  Waker waker;
  std::thread acceptor;
  std::atomic<bool> stopping{false};

  std::mutex mutex;  // guards connections and each one's socket
  std::list<Connection> connections;
};

bool Server::Impl::read_head(net::SocketHandle s, std::string* head) {
  const net::ReceiveApi& api = net::receive_api();
  const net::SocketHandle waits[2] = {s, waker.socket()};
  char buf[4096];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (head->size() > kMaxHead) return false;
    bool ready[2] = {false, false};
    if (api.wait_readable(waits, 2, kIoTimeoutMs, ready) <= 0 || stopping) return false;
    if (!ready[0]) continue;  // a stray datagram, which the acceptor takes away
    const std::intptr_t n = api.receive(s, buf, sizeof buf);
    if (n <= 0) return false;
    head->append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

void Server::Impl::serve(Connection* c) {
  const net::SocketHandle s = c->socket;
  net::receive_api().set_timeouts(s, kIoTimeoutMs);
  std::string head;
  if (read_head(s, &head)) {
    Request request;
    Response response;
    if (!parse_request(head, &request)) response = plain(kBadRequest, "not an HTTP/1.x request\n");
    else if (request.method != "GET" && request.method != "HEAD")
      response = plain(kMethodNotAllowed, "only GET and HEAD\n");
    else response = handler(request);
    const bool body = request.method != "HEAD";
    if (response.stream && response.status == 200) {
      const Send send = [&](std::string_view piece) { return !stopping && send_all(s, piece); };
      if (send_all(s, Server::head(response, false)) && body)
        while (!stopping && response.stream(send)) {}
    } else {
      send_all(s, Server::head(response, true) + (body ? response.body : std::string()));
    }
    if (response.done) response.done();
  }
  {
    std::lock_guard lock(mutex);
    net::api().shutdown_close(s);
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

void Server::Impl::accept_loop() {
  const net::ReceiveApi& api = net::receive_api();
  const net::SocketHandle waits[2] = {listener, waker.socket()};
  // stop() sets `stopping` before it wakes: a wake that drain() took away is
  // seen here at the next turn.
  while (!stopping) {
    reap();
    bool ready[2] = {false, false};
    const int n = api.wait_readable(waits, 2, -1, ready);
    if (stopping) return;
    if (n < 0 && net::api().last_error() != wsa::kEintr) return;
    if (n > 0 && ready[1]) waker.drain();
    if (n <= 0 || !ready[0]) continue;
    const net::SocketHandle s = api.accept(listener);
    if (s == net::kNoSocket) continue;  // the page gave up before it was taken
    std::lock_guard lock(mutex);
    if (connections.size() >= kMaxConnections) {
      net::api().shutdown_close(s);
      continue;
    }
    Connection& c = connections.emplace_back();
    c.socket = s;
    c.thread = std::thread(&Impl::serve, this, &c);
  }
}

Server::Server(Handler handler) : impl_(std::make_unique<Impl>(std::move(handler))) {}

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
