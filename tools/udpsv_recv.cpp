// udpsv-recv: listens for sample frames on UDP, decodes them and shows them
// as a live table, optionally also as CSV. It stands for the receiving model
// in the demo and in tests.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
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

#include "tools/frame_decode.h"
#include "tools/live_plot.h"

namespace {

using sv::recv::ValueType;
using Clock = std::chrono::steady_clock;

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
                     free port; "http on ADDR:PORT" is reported on stderr.
                     The receiver sends a page at most 200 points per second
                     and input, so any frame rate can be watched.
  --http-port-file FILE  write the HTTP port to FILE (atomically)

Stopping (whichever comes first; also on SIGINT or SIGTERM):
  --count N          after N datagrams (well-formed or not)
  --timeout S        after S seconds of run time
  --idle S           after S seconds without a datagram
  A summary line goes to stderr at the end: frames, malformed frames, bytes,
  duration from first to last frame, rate in frames/s, and datagrams the
  system dropped because the receive queue was full.

  --expect N         exit with 3 when fewer than N well-formed frames arrived
  --help             show this text

Exit status: 0 normal end; 1 socket or file failure; 2 bad arguments;
3 fewer frames than --expect.

Settings and scripts for other receivers (Simulink, MATLAB, Octave, Python),
filled in from a model: svhost show MODEL --receiver all
)HELP";

volatile sig_atomic_t g_stop_signal = 0;

extern "C" void on_stop_signal(int sig) { g_stop_signal = sig; }

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

Options parse_options(int argc, char** argv, bool* help) {
  Options o;
  for (int i = 1; i < argc; ++i) {
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
        if (o.http_host->empty()) throw UsageError{"--http: empty address in '" + std::string(spec) + "'"};
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
  if (!o.http_port_file.empty() && !o.http_host)
    throw UsageError{"--http-port-file needs --http"};
  if (o.inputs && *o.inputs * sv::recv::value_width(o.type) > kMaxDatagram)
    throw UsageError{"--inputs: " + std::to_string(*o.inputs) + " x " +
                     std::string(sv::recv::value_type_name(o.type)) +
                     " does not fit in one datagram"};
  return o;
}

// Writes through a temporary file and a rename, so that a reader polling for
// FILE never sees it half written.
bool write_port_file(const std::string& path, std::uint16_t port) {
  const std::string tmp = path + ".tmp." + std::to_string(getpid());
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  const bool written = std::fprintf(f, "%u\n", static_cast<unsigned>(port)) > 0;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

class Receiver {
 public:
  explicit Receiver(const Options& o) : opt_(o) {}
  ~Receiver() {
    if (fd_ >= 0) ::close(fd_);
    if (csv_) std::fclose(csv_);
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // Returns the exit status.
  int run();

 private:
  int open_socket();
  void handle(const std::uint8_t* data, std::size_t length, Clock::time_point at);
  void print_values(const sv::recv::DecodedFrame& frame);
  void print_hex(const std::uint8_t* data, std::size_t length);
  void write_csv_header(std::optional<std::size_t> count);
  int finish(const char* reason);

  int start_plot();

  const Options& opt_;
  std::unique_ptr<sv::recv::LivePlot> plot_;
  int fd_ = -1;
  std::FILE* csv_ = nullptr;
  bool csv_header_written_ = false;
  Clock::time_point start_;
  std::optional<Clock::time_point> first_;
  Clock::time_point last_;
  std::uint64_t frames_ = 0;
  std::uint64_t malformed_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint32_t dropped_ = 0;  // the kernel's count of datagrams lost to a full queue
};

int Receiver::open_socket() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (int rc = ::getaddrinfo(opt_.bind.c_str(), nullptr, &hints, &res); rc != 0 || !res) {
    std::fprintf(stderr, "udpsv-recv: --bind: cannot resolve '%s': %s\n", opt_.bind.c_str(),
                 rc ? gai_strerror(rc) : "no address");
    return kExitUsage;
  }
  sockaddr_in addr{};
  std::memcpy(&addr, res->ai_addr, sizeof addr);
  ::freeaddrinfo(res);
  addr.sin_port = htons(opt_.port);

  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    std::fprintf(stderr, "udpsv-recv: socket: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  // A larger queue rides out bursts while the table is being printed.
  int rcvbuf = 4 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  // Frames lost before they reached us would otherwise go unnoticed.
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    std::fprintf(stderr, "udpsv-recv: cannot bind %s:%u: %s\n", text,
                 static_cast<unsigned>(opt_.port), std::strerror(errno));
    return kExitFailure;
  }
  socklen_t len = sizeof addr;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::fprintf(stderr, "udpsv-recv: getsockname: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  const std::uint16_t port = ntohs(addr.sin_port);
  if (!opt_.port_file.empty() && !write_port_file(opt_.port_file, port)) {
    std::fprintf(stderr, "udpsv-recv: cannot write port file '%s': %s\n", opt_.port_file.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  std::fprintf(stderr, "listening on %s:%u\n", text, static_cast<unsigned>(port));
  return kExitOk;
}

// The server's threads start after the stop signals are blocked in run(),
// so only the receive loop ever handles them.
int Receiver::start_plot() {
  if (!opt_.http_host) return kExitOk;
  sv::recv::LivePlotOptions o;
  o.host = *opt_.http_host;
  o.port = opt_.http_port;
  o.type = opt_.type;
  o.inputs = opt_.inputs;
  plot_ = std::make_unique<sv::recv::LivePlot>(o);
  if (std::string error = plot_->start(); !error.empty()) {
    std::fprintf(stderr, "udpsv-recv: --http: %s\n", error.c_str());
    return kExitFailure;
  }
  if (!opt_.http_port_file.empty() && !write_port_file(opt_.http_port_file, plot_->port())) {
    std::fprintf(stderr, "udpsv-recv: cannot write port file '%s': %s\n",
                 opt_.http_port_file.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  std::fprintf(stderr, "http on %s:%u\n", plot_->host().c_str(),
               static_cast<unsigned>(plot_->port()));
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
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0 && i % kValuesPerLine == 0) std::printf("\n%*s", kLeadWidth, "");
    std::fputs("  ", stdout);
    std::fputs(sv::recv::format_value(values[i]).c_str(), stdout);
  }
  if (shown < values.size()) std::printf("  \u2026(+%zu)", values.size() - shown);
  std::fputc('\n', stdout);
}

void Receiver::print_hex(const std::uint8_t* data, std::size_t length) {
  for (std::size_t off = 0; off < length; off += 16) {
    std::printf("%*s  %04zx:", kLeadWidth, "", off);
    for (std::size_t i = off; i < length && i < off + 16; ++i) std::printf(" %02x", data[i]);
    std::fputc('\n', stdout);
  }
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
    std::printf("%6llu %13.6f %6zu  MALFORMED: %s\n", static_cast<unsigned long long>(frames_),
                seconds, length, frame.reason.c_str());
    if (opt_.hex) print_hex(data, length);
    return;
  }
  if (!opt_.quiet) {
    std::printf("%6llu %13.6f %6zu", static_cast<unsigned long long>(frames_), seconds, length);
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
      std::fprintf(stderr, "udpsv-recv: writing '%s' failed\n", opt_.csv.c_str());
      status = kExitFailure;
    }
  }
  std::fflush(stdout);

  const double span = first_ ? std::chrono::duration<double>(last_ - *first_).count() : 0.0;
  // Rate over the intervals between frames: n frames span n - 1 intervals.
  const double rate = frames_ > 1 && span > 0 ? static_cast<double>(frames_ - 1) / span : 0.0;
  std::fprintf(stderr,
               "summary: %llu frames received, %llu malformed, %llu bytes, %.6f s, %.1f frames/s,"
               " %lu lost to a full receive queue (stopped: %s)\n",
               static_cast<unsigned long long>(frames_),
               static_cast<unsigned long long>(malformed_),
               static_cast<unsigned long long>(bytes_), span, rate,
               static_cast<unsigned long>(dropped_), reason);

  const std::uint64_t good = frames_ - malformed_;
  if (status == kExitOk && opt_.expect && good < *opt_.expect) {
    std::fprintf(stderr, "udpsv-recv: expected %llu well-formed frames, got %llu\n",
                 static_cast<unsigned long long>(*opt_.expect),
                 static_cast<unsigned long long>(good));
    status = kExitTooFew;
  }
  return status;
}

int Receiver::run() {
  if (!opt_.csv.empty()) {
    csv_ = std::fopen(opt_.csv.c_str(), "w");
    if (!csv_) {
      std::fprintf(stderr, "udpsv-recv: cannot open '%s': %s\n", opt_.csv.c_str(),
                   std::strerror(errno));
      return kExitFailure;
    }
  }

  // The stop signals stay blocked except inside ppoll, so one that arrives
  // between the check of the flag and the wait cannot be lost.
  sigset_t stop_set, wait_mask;
  sigemptyset(&stop_set);
  sigaddset(&stop_set, SIGINT);
  sigaddset(&stop_set, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop_set, &wait_mask);
  sigdelset(&wait_mask, SIGINT);
  sigdelset(&wait_mask, SIGTERM);
  struct sigaction sa{};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  if (int rc = open_socket(); rc != kExitOk) return rc;
  if (int rc = start_plot(); rc != kExitOk) return rc;
  if (!opt_.quiet)
    std::printf("%6s %13s %6s  values (%s)\n", "frame", "seconds", "bytes",
                std::string(sv::recv::value_type_name(opt_.type)).c_str());
  std::fflush(stdout);

  start_ = Clock::now();
  Clock::time_point last_activity = start_;
  std::vector<std::uint8_t> buf(kMaxDatagram + 1);
  const auto seconds = [](double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
  };

  for (;;) {
    if (g_stop_signal) return finish(g_stop_signal == SIGINT ? "SIGINT" : "SIGTERM");
    if (opt_.count && frames_ >= *opt_.count) return finish("count");

    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> deadline;
    const char* deadline_reason = nullptr;
    if (opt_.timeout) {
      deadline = start_ + seconds(*opt_.timeout);
      deadline_reason = "timeout";
    }
    if (opt_.idle && (!deadline || last_activity + seconds(*opt_.idle) < *deadline)) {
      deadline = last_activity + seconds(*opt_.idle);
      deadline_reason = "idle";
    }
    timespec wait{};
    if (deadline) {
      if (now >= *deadline) return finish(deadline_reason);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - now).count();
      wait.tv_sec = static_cast<time_t>(ns / 1000000000);
      wait.tv_nsec = static_cast<long>(ns % 1000000000);
    }

    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::ppoll(&pfd, 1, deadline ? &wait : nullptr, &wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "udpsv-recv: poll: %s\n", std::strerror(errno));
      finish("error");
      return kExitFailure;
    }
    if (ready == 0) continue;

    // Drain what is queued, then flush once; the batch is bounded so that a
    // steady flood cannot keep the stop conditions from being checked.
    for (int batch = 0; batch < 256 && (!opt_.count || frames_ < *opt_.count); ++batch) {
      iovec iov{buf.data(), buf.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
        std::fprintf(stderr, "udpsv-recv: recv: %s\n", std::strerror(errno));
        finish("error");
        return kExitFailure;
      }
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
          std::memcpy(&dropped_, CMSG_DATA(c), sizeof dropped_);
          if (plot_) plot_->lost(dropped_);
        }
      last_activity = Clock::now();
      handle(buf.data(), static_cast<std::size_t>(n), last_activity);
    }
    std::fflush(stdout);
    if (csv_) std::fflush(csv_);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  try {
    options = parse_options(argc, argv, &help);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "udpsv-recv: %s\nTry 'udpsv-recv --help'.\n", e.message.c_str());
    return kExitUsage;
  }
  if (help) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  Receiver receiver(options);
  return receiver.run();
}
