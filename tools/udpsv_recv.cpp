// udpsv-recv: listens for sample frames on UDP, decodes them and shows them
// as a live table, optionally also as CSV. It stands for the receiving model
// in the demo and in tests, and checks the connection on a user's PC. One
// source for Linux and Windows, on the programs' system layer (system/).

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/wsa_codes.h"
#include "receiving/frame_decode.h"
#include "system/console.h"
#include "system/files.h"
#include "system/net.h"
#include "tools/live_plot.h"
#include "tools/waker.h"

namespace {

using sv::recv::ValueType;
using Clock = std::chrono::steady_clock;
using sv::console::format;
namespace net = sv::net;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTooFew = 3;

// Values shown per table line; --wide wraps the rest onto further lines.
constexpr std::size_t kValuesPerLine = 8;
// Width of the frame, seconds and bytes columns, where values begin.
constexpr int kLeadWidth = 6 + 1 + 13 + 1 + 6;
// The largest UDP payload over IPv4.
constexpr std::size_t kMaxDatagram = 65507;

constexpr const char* kHelp =
    R"HELP(Usage: udpsv-recv [OPTIONS]

Receives sample frames (one UDP datagram each: N values of one type, no
header, little-endian) and prints one table line per frame on stdout:
frame number, seconds since the first frame, byte length, values.

Listening:
  --bind ADDR        IPv4 address or name to bind to (default 127.0.0.1)
  --port P           UDP port, 0..65535 (default 1600); 0 picks a free port
  --port-file FILE   write the bound port number to FILE (atomically)
  The bound address is always reported on stderr as
  "listening on ADDR:PORT".

Decoding:
  --type T           double | single | int32 | boolean (default double);
                     widths 8, 4, 4 and 1 bytes; boolean bytes are 0x00/0x01
  --inputs N         expected values per frame; without it, N is the
                     datagram length divided by the width of the type
  A datagram that is empty, whose length does not fit the type (or N), or
  that holds a boolean byte other than 0x00/0x01 is reported as malformed on
  stdout and counted.

Output:
  --quiet            no lines for well-formed frames (malformed frames and
                     the summary are still reported)
  --wide             show all values, 8 per line (default: the first 8 and
                     "…(+n)" for the rest)
  --hex              also print the raw bytes of each frame
  --csv FILE         write one row per well-formed frame to FILE:
                     frame,seconds,bytes,v1..vN; values read back exactly

Live plot in the browser (beside the table and the CSV):
  --http [ADDR:]PORT serve a page on ADDR (default 127.0.0.1) that plots every
                     input as frames arrive: http://ADDR:PORT/. PORT 0 picks a
                     free port; "live plot: open http://ADDR:PORT/ in a
                     browser" is reported on stderr.
                     The receiver sends a page at most 200 points per second
                     and input, so any frame rate can be watched. A page
                     opened later gets the last 60 s, at most 16 MB (about
                     5 kB per input and second: the whole minute up to 55
                     inputs, 3 s of 1,000). The plot takes at most 32 MB,
                     however many pages open; 16 at a time, one more is
                     asked to come back in a few seconds.
                     The page answers only to http://ADDR:PORT/ with ADDR as
                     given or as the address it stands for, and on 127.0.0.1
                     to http://localhost:PORT/. With an ADDR other than
                     127.0.0.1 (0.0.0.0: every network adapter), every
                     computer that reaches it can watch the frames; there is
                     no password. Nothing can be changed through the page.
  --http-port-file FILE  write the HTTP port to FILE (atomically)

Stopping (whichever comes first; also on Ctrl+C, and on SIGTERM on Linux):
  --count N          after N datagrams (well-formed or not)
  --timeout S        after S seconds of run time
  --idle S           after S seconds without a datagram
  A summary line goes to stderr at the end: frames, malformed frames, bytes,
  duration from first to last frame, rate in frames/s, and datagrams the
  system dropped because the receive queue was full (Linux counts them,
  Windows does not).

  --expect N         exit with 3 when fewer than N well-formed frames arrived
  --help             show this text

Exit status: 0 normal end; 1 socket or file failure; 2 bad arguments;
3 fewer frames than --expect.

Settings and scripts for other receivers (Simulink, MATLAB, Octave, Python),
filled in from a model: svhost show MODEL --receiver all
)HELP";

// Made readable by a request to stop, so that the wait for frames returns.
std::atomic<const sv::recv::Waker*> g_waker{nullptr};

void wake_receiver() {
  if (const sv::recv::Waker* waker = g_waker.load()) waker->wake();
}

struct Options {
  std::string bind = "127.0.0.1";
  std::uint16_t port = 1600;
  std::string port_file;
  ValueType type = ValueType::Double;
  std::optional<std::size_t> inputs;
  std::string csv;
  bool hex = false;
  bool quiet = false;
  bool wide = false;
  std::optional<std::uint64_t> count;
  std::optional<std::uint64_t> expect;
  std::optional<double> timeout;
  std::optional<double> idle;
  std::optional<std::string> http_host;
  std::uint16_t http_port = 0;
  std::string http_port_file;
};

struct UsageError {
  std::string message;
};

std::uint64_t parse_unsigned(std::string_view opt, std::string_view text, std::uint64_t min,
                             std::uint64_t max) {
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
    throw UsageError{std::string(opt) + ": '" + std::string(text) + "' is not a whole number in " +
                     std::to_string(min) + ".." + std::to_string(max)};
  return v;
}

double parse_seconds(std::string_view opt, std::string_view text) {
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) ||
      v <= 0 || v > 1e9)
    throw UsageError{std::string(opt) + ": '" + std::string(text) +
                     "' is not a positive number of seconds"};
  return v;
}

Options parse_options(const std::vector<std::string>& argv, bool* help) {
  Options o;
  const std::size_t argc = argv.size();
  for (std::size_t i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg;
    std::optional<std::string_view> inline_value;
    if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    auto flag = [&] {
      if (inline_value) throw UsageError{std::string(name) + " takes no value"};
    };
    auto value = [&]() -> std::string_view {
      if (inline_value) return *inline_value;
      if (i + 1 >= argc) throw UsageError{std::string(name) + " needs a value"};
      return argv[++i];
    };

    if (name == "--help" || name == "-h") {
      flag();
      *help = true;
    } else if (name == "--bind") {
      o.bind = value();
      if (o.bind.empty()) throw UsageError{"--bind needs an address"};
    } else if (name == "--port") {
      o.port = static_cast<std::uint16_t>(parse_unsigned(name, value(), 0, 65535));
    } else if (name == "--port-file") {
      o.port_file = value();
      if (o.port_file.empty()) throw UsageError{"--port-file needs a file name"};
    } else if (name == "--type") {
      std::string_view t = value();
      auto type = sv::recv::parse_value_type(t);
      if (!type)
        throw UsageError{"--type: '" + std::string(t) +
                         "' is not one of double, single, int32, boolean"};
      o.type = *type;
    } else if (name == "--inputs") {
      o.inputs = parse_unsigned(name, value(), 1, kMaxDatagram);
    } else if (name == "--csv") {
      o.csv = value();
      if (o.csv.empty()) throw UsageError{"--csv needs a file name"};
    } else if (name == "--http") {
      std::string_view spec = value();
      std::string_view port_text = spec;
      o.http_host = "127.0.0.1";
      if (auto colon = spec.rfind(':'); colon != std::string_view::npos) {
        o.http_host = std::string(spec.substr(0, colon));
        port_text = spec.substr(colon + 1);
        if (o.http_host->empty())
          throw UsageError{"--http: empty address in '" + std::string(spec) + "'"};
      }
      o.http_port = static_cast<std::uint16_t>(parse_unsigned(name, port_text, 0, 65535));
    } else if (name == "--http-port-file") {
      o.http_port_file = value();
      if (o.http_port_file.empty()) throw UsageError{"--http-port-file needs a file name"};
    } else if (name == "--hex") {
      flag();
      o.hex = true;
    } else if (name == "--quiet") {
      flag();
      o.quiet = true;
    } else if (name == "--wide") {
      flag();
      o.wide = true;
    } else if (name == "--count") {
      o.count = parse_unsigned(name, value(), 1, UINT64_MAX);
    } else if (name == "--expect") {
      o.expect = parse_unsigned(name, value(), 0, UINT64_MAX);
    } else if (name == "--timeout") {
      o.timeout = parse_seconds(name, value());
    } else if (name == "--idle") {
      o.idle = parse_seconds(name, value());
    } else {
      throw UsageError{"unknown argument '" + std::string(arg) + "'"};
    }
  }
  if (!o.http_port_file.empty() && !o.http_host) throw UsageError{"--http-port-file needs --http"};
  if (o.inputs && *o.inputs * sv::recv::value_width(o.type) > kMaxDatagram)
    throw UsageError{"--inputs: " + std::to_string(*o.inputs) + " x " +
                     std::string(sv::recv::value_type_name(o.type)) +
                     " does not fit in one datagram"};
  return o;
}

// Through a temporary file and a rename, so that a reader polling for the
// file never sees it half written. Empty on success, else why not.
std::string write_port_file(const std::string& path, std::uint16_t port) {
  return sv::files::write_whole(path, std::to_string(port) + "\n");
}

class Receiver {
 public:
  explicit Receiver(const Options& o) : opt_(o) {}
  ~Receiver() {
    g_waker = nullptr;
    plot_.reset();
    if (socket_ != net::kNoSocket) net::api().shutdown_close(socket_);
    if (csv_) std::fclose(csv_);
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // Returns the exit status. Needs the socket library started.
  int run();

 private:
  int open_socket();
  int start_plot();
  // Receives what is queued; false on a failure of the socket.
  bool drain();
  void handle(const std::uint8_t* data, std::size_t length, Clock::time_point at);
  void print_values(const sv::recv::DecodedFrame& frame);
  void print_hex(const std::uint8_t* data, std::size_t length);
  void write_csv_header(std::optional<std::size_t> count);
  int finish(const char* reason);

  const Options& opt_;
  std::unique_ptr<sv::recv::LivePlot> plot_;
  net::SocketHandle socket_ = net::kNoSocket;
  sv::recv::Waker waker_;
  std::FILE* csv_ = nullptr;
  bool csv_header_written_ = false;
  Clock::time_point start_;
  std::optional<Clock::time_point> first_;
  Clock::time_point last_;
  Clock::time_point last_activity_;
  std::uint64_t frames_ = 0;
  std::uint64_t malformed_ = 0;
  std::uint64_t bytes_ = 0;
  bool drops_counted_ = false;  // the system reports datagrams lost to a full queue
  std::uint32_t dropped_ = 0;   // its count
  std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(kMaxDatagram + 1);
};

std::string address_text(net::Ipv4 a) {
  return format("%u.%u.%u.%u", a.b[0], a.b[1], a.b[2], a.b[3]);
}

int Receiver::open_socket() {
  const net::Api& api = net::api();
  const net::ReceiveApi& rapi = net::receive_api();
  const net::LookupResult found = api.lookup(sv::u16(opt_.bind));
  if (found.status != net::LookupStatus::Ok) {
    sv::console::err(format("udpsv-recv: --bind: cannot resolve '%s': %s\n", opt_.bind.c_str(),
                            net::error_text(found.code).c_str()));
    return kExitUsage;
  }
  socket_ = api.open_dgram();
  if (socket_ == net::kNoSocket) {
    sv::console::err("udpsv-recv: socket: " + net::error_text(api.last_error()) + "\n");
    return kExitFailure;
  }
  // A larger queue rides out bursts while the table is being printed.
  rapi.set_receive_buffer(socket_, 4 << 20);
  // Frames lost before they reached us would otherwise go unnoticed.
  drops_counted_ = rapi.count_drops(socket_) == 0;
  if (api.bind(socket_, found.address, opt_.port) != 0) {
    const int code = api.last_error();
    const std::string at = address_text(found.address) + ":" + std::to_string(opt_.port);
    // What the two likely codes mean for the user, and what to do.
    const std::string remedy =
        code == sv::wsa::kEaddrinuse
            ? "another program already receives on port " + std::to_string(opt_.port) +
                  " (another udpsv-recv, a script or a Simulink model): close it, or choose "
                  "another port with --port and give the block the same port\n"
        : code == sv::wsa::kEacces
            ? "the system does not let this program use port " + std::to_string(opt_.port) +
                  " (reserved, or held by another program alone): choose another port with "
                  "--port and give the block the same port\n"
            : "";
    sv::console::err("udpsv-recv: cannot bind " + at + ": " + net::error_text(code) + "\n" +
                     (remedy.empty() ? "" : "udpsv-recv: " + remedy));
    return kExitFailure;
  }
  net::Ipv4 address{};
  std::uint16_t port = 0;
  if (api.local_address(socket_, &address, &port) != 0 || rapi.set_blocking(socket_, 0) != 0) {
    sv::console::err("udpsv-recv: socket: " + net::error_text(api.last_error()) + "\n");
    return kExitFailure;
  }
  if (!opt_.port_file.empty())
    if (std::string error = write_port_file(opt_.port_file, port); !error.empty()) {
      sv::console::err(format("udpsv-recv: cannot write port file '%s': %s\n",
                              opt_.port_file.c_str(), error.c_str()));
      return kExitFailure;
    }
  sv::console::err(
      format("listening on %s:%u\n", address_text(address).c_str(), static_cast<unsigned>(port)));
  return kExitOk;
}

int Receiver::start_plot() {
  if (!opt_.http_host) return kExitOk;
  sv::recv::LivePlotOptions o;
  o.host = *opt_.http_host;
  o.port = opt_.http_port;
  o.type = opt_.type;
  o.inputs = opt_.inputs;
  o.drops_counted = drops_counted_;
  plot_ = std::make_unique<sv::recv::LivePlot>(o);
  if (std::string error = plot_->start(); !error.empty()) {
    sv::console::err("udpsv-recv: --http: " + error + "\n");
    return kExitFailure;
  }
  if (!opt_.http_port_file.empty())
    if (std::string error = write_port_file(opt_.http_port_file, plot_->port()); !error.empty()) {
      sv::console::err(format("udpsv-recv: cannot write port file '%s': %s\n",
                              opt_.http_port_file.c_str(), error.c_str()));
      return kExitFailure;
    }
  // An address that means every adapter is no address to open.
  const std::string host = plot_->host() == "0.0.0.0" ? "127.0.0.1" : plot_->host();
  sv::console::err(format("live plot: open http://%s:%u/ in a browser\n", host.c_str(),
                          static_cast<unsigned>(plot_->port())));
  return kExitOk;
}

void Receiver::write_csv_header(std::optional<std::size_t> count) {
  csv_header_written_ = true;
  std::fputs("frame,seconds,bytes", csv_);
  for (std::size_t i = 1; count && i <= *count; ++i) std::fprintf(csv_, ",v%zu", i);
  std::fputc('\n', csv_);
}

void Receiver::print_values(const sv::recv::DecodedFrame& frame) {
  const auto& values = frame.values;
  const std::size_t shown = opt_.wide ? values.size() : std::min(values.size(), kValuesPerLine);
  std::string line;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0 && i % kValuesPerLine == 0) line += format("\n%*s", kLeadWidth, "");
    line += "  " + sv::recv::format_value(values[i]);
  }
  if (shown < values.size()) line += format("  \u2026(+%zu)", values.size() - shown);
  sv::console::out(line + "\n");
}

void Receiver::print_hex(const std::uint8_t* data, std::size_t length) {
  std::string text;
  for (std::size_t off = 0; off < length; off += 16) {
    text += format("%*s  %04zx:", kLeadWidth, "", off);
    for (std::size_t i = off; i < length && i < off + 16; ++i) text += format(" %02x", data[i]);
    text += "\n";
  }
  sv::console::out(text);
}

void Receiver::handle(const std::uint8_t* data, std::size_t length, Clock::time_point at) {
  if (!first_) first_ = at;
  last_ = at;
  ++frames_;
  bytes_ += length;
  const double seconds = std::chrono::duration<double>(at - *first_).count();
  const auto frame = sv::recv::decode_frame({data, length}, opt_.type, opt_.inputs);

  if (plot_) {
    if (frame.ok()) plot_->frame(frames_, seconds, frame.values);
    else plot_->malformed();
  }
  if (!frame.ok()) {
    ++malformed_;
    sv::console::out(format("%6llu %13.6f %6zu  MALFORMED: %s\n",
                            static_cast<unsigned long long>(frames_), seconds, length,
                            frame.reason.c_str()));
    if (opt_.hex) print_hex(data, length);
    return;
  }
  if (!opt_.quiet) {
    sv::console::out(
        format("%6llu %13.6f %6zu", static_cast<unsigned long long>(frames_), seconds, length));
    print_values(frame);
    if (opt_.hex) print_hex(data, length);
  }
  if (csv_) {
    if (!csv_header_written_) write_csv_header(opt_.inputs ? opt_.inputs : frame.values.size());
    std::fprintf(csv_, "%llu,%.6f,%zu", static_cast<unsigned long long>(frames_), seconds, length);
    for (const auto& v : frame.values) {
      std::fputc(',', csv_);
      std::fputs(sv::recv::format_value(v).c_str(), csv_);
    }
    std::fputc('\n', csv_);
  }
}

int Receiver::finish(const char* reason) {
  if (plot_) plot_->stop();
  int status = kExitOk;
  if (csv_) {
    if (!csv_header_written_) write_csv_header(opt_.inputs);
    const bool failed = std::ferror(csv_) != 0;
    const bool closed = std::fclose(csv_) == 0;
    csv_ = nullptr;
    if (failed || !closed) {
      sv::console::err(format("udpsv-recv: writing '%s' failed\n", opt_.csv.c_str()));
      status = kExitFailure;
    }
  }
  sv::console::flush();

  const double span = first_ ? std::chrono::duration<double>(last_ - *first_).count() : 0.0;
  // Rate over the intervals between frames: n frames span n - 1 intervals.
  const double rate = frames_ > 1 && span > 0 ? static_cast<double>(frames_ - 1) / span : 0.0;
  const std::string lost =
      drops_counted_
          ? format("%lu lost to a full receive queue", static_cast<unsigned long>(dropped_))
          : std::string("losses to a full receive queue not counted here");
  sv::console::err(
      format("summary: %llu frames received, %llu malformed, %llu bytes, %.6f s, %.1f frames/s,"
             " %s (stopped: %s)\n",
             static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(malformed_),
             static_cast<unsigned long long>(bytes_), span, rate, lost.c_str(), reason));

  const std::uint64_t good = frames_ - malformed_;
  if (status == kExitOk && opt_.expect && good < *opt_.expect) {
    sv::console::err(format("udpsv-recv: expected %llu well-formed frames, got %llu\n",
                            static_cast<unsigned long long>(*opt_.expect),
                            static_cast<unsigned long long>(good)));
    status = kExitTooFew;
  }
  return status;
}

bool Receiver::drain() {
  const net::ReceiveApi& rapi = net::receive_api();
  // Bounded, so that a steady flood cannot keep the stop conditions from
  // being checked.
  for (int batch = 0; batch < 256 && (!opt_.count || frames_ < *opt_.count); ++batch) {
    const std::uint32_t dropped_before = dropped_;
    const std::intptr_t n =
        rapi.receive_datagram(socket_, buf_.data(), buf_.size(), &dropped_, nullptr);
    if (n < 0) {
      const int code = net::api().last_error();
      if (code == sv::wsa::kEwouldblock || code == sv::wsa::kEintr) return true;
      sv::console::err("udpsv-recv: recv: " + net::error_text(code) + "\n");
      return false;
    }
    if (plot_ && dropped_ != dropped_before) plot_->lost(dropped_);
    last_activity_ = Clock::now();
    handle(buf_.data(), static_cast<std::size_t>(n), last_activity_);
  }
  return true;
}

int Receiver::run() {
  if (!opt_.csv.empty()) {
    csv_ = sv::files::open(opt_.csv, "w");
    if (!csv_) {
      sv::console::err(
          format("udpsv-recv: cannot open '%s': %s\n", opt_.csv.c_str(), std::strerror(errno)));
      return kExitFailure;
    }
  }
  // A request to stop wakes the wait below, also when it comes just before it.
  if (std::string error = waker_.open(); !error.empty()) {
    sv::console::err("udpsv-recv: socket: " + error + "\n");
    return kExitFailure;
  }
  g_waker = &waker_;
  sv::console::watch_stop_requests(wake_receiver);

  if (int rc = open_socket(); rc != kExitOk) return rc;
  if (int rc = start_plot(); rc != kExitOk) return rc;
  if (!opt_.quiet)
    sv::console::out(format("%6s %13s %6s  values (%s)\n", "frame", "seconds", "bytes",
                            std::string(sv::recv::value_type_name(opt_.type)).c_str()));
  sv::console::flush();

  start_ = Clock::now();
  last_activity_ = start_;
  const auto seconds = [](double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };
  const net::SocketHandle waits[2] = {socket_, waker_.socket()};

  for (;;) {
    if (const char* request = sv::console::stop_request()) return finish(request);
    if (opt_.count && frames_ >= *opt_.count) return finish("count");

    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> deadline;
    const char* deadline_reason = nullptr;
    if (opt_.timeout) {
      deadline = start_ + seconds(*opt_.timeout);
      deadline_reason = "timeout";
    }
    if (opt_.idle && (!deadline || last_activity_ + seconds(*opt_.idle) < *deadline)) {
      deadline = last_activity_ + seconds(*opt_.idle);
      deadline_reason = "idle";
    }
    int wait_ms = -1;
    if (deadline) {
      if (now >= *deadline) return finish(deadline_reason);
      // Rounded up, so that the wait never ends before the deadline.
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(*deadline - now).count();
      wait_ms = static_cast<int>(std::min<long long>((us + 999) / 1000, 1 << 30));
    }

    bool ready[2] = {false, false};
    if (net::receive_api().wait_readable(waits, 2, wait_ms, ready) < 0) {
      const int code = net::api().last_error();
      if (code == sv::wsa::kEintr) continue;
      sv::console::err("udpsv-recv: wait: " + net::error_text(code) + "\n");
      finish("error");
      return kExitFailure;
    }
    if (!ready[0]) continue;
    if (!drain()) {
      finish("error");
      return kExitFailure;
    }
    sv::console::flush();
    if (csv_) std::fflush(csv_);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  try {
    options = parse_options(sv::console::arguments(argc, argv), &help);
  } catch (const UsageError& e) {
    sv::console::err("udpsv-recv: " + e.message + "\nTry 'udpsv-recv --help'.\n");
    return kExitUsage;
  }
  if (help) {
    sv::console::out(kHelp);
    sv::console::flush();
    return kExitOk;
  }
  // Started by a double-click, its window would close with it, and what it
  // said with it.
  const bool own_console = sv::console::closes_with_program();
  int status = kExitFailure;
  {
    net::SocketLibrary sockets;
    if (sockets.code() != 0) {
      sv::console::err(
          "udpsv-recv: cannot start the socket library: " + net::error_text(sockets.code()) + "\n");
    } else {
      Receiver receiver(options);
      status = receiver.run();
    }
  }
  // A console closed by its user is gone: the wait ends at once.
  if (own_console) {
    sv::console::out("\nPress Enter to close this window.\n");
    sv::console::flush();
    sv::console::wait_for_enter();
  }
  return status;
}
