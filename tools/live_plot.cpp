#include "tools/live_plot.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "tools/files.h"
#include "tools/http_server.h"

namespace sv::recv {

namespace web {
extern const std::string_view k_index_html;
extern const std::string_view k_plot_js;
}  // namespace web

namespace {

using Clock = std::chrono::steady_clock;

// 100 buckets per second: at most 200 points per second and input reach a
// page, whatever the frame rate, which is still finer than a chart's pixels
// over its default 20 s window.
constexpr double kBucketSeconds = 0.01;
// Batches per second sent to each page.
constexpr auto kBatchPeriod = std::chrono::milliseconds(100);
// A comment line this often lets a stream find out that its page is gone.
constexpr auto kHeartbeat = std::chrono::seconds(1);
// Batches kept for pages that open later: 60 s of history.
constexpr std::size_t kHistoryBatches = 600;
// Each open stream holds one connection of the server.
constexpr int kMaxStreams = 16;

double value_order(const Value& v) { return to_double(v); }

// JSON number text that reads back to the same value in a browser: the
// shortest round-trip text, "-0" kept, NaN as null (a gap in the chart) and
// the infinities as numbers too large for a double, which JSON.parse turns
// into ±Infinity.
std::string json_value(const Value& v) {
  const double d = to_double(v);
  if (std::isnan(d)) return "null";
  if (std::isinf(d)) return d > 0 ? "1e999" : "-1e999";
  return format_value(v);
}

std::string json_point(const PlotPoint& p) {
  std::string out = "[" + std::to_string(p.frame) + ",";
  char t[32];
  std::snprintf(t, sizeof t, "%.6f", p.seconds);
  out += t;
  out += "," + std::to_string(p.merged);
  for (const auto& v : p.values) out += "," + json_value(v);
  return out + "]";
}

}  // namespace

// ---- PlotDecimator --------------------------------------------------------

void PlotDecimator::emit(std::vector<PlotPoint>* out) {
  if (count_ == 0) return;
  if (count_ == 1) {
    out->push_back(first_);
  } else {
    min_.merged = max_.merged = count_;
    out->push_back(min_);
    out->push_back(max_);
  }
  count_ = 0;
  bucket_start_.reset();
}

void PlotDecimator::close_before(double now, std::vector<PlotPoint>* out) {
  if (bucket_start_ && now >= *bucket_start_ + bucket_) emit(out);
}

void PlotDecimator::add(std::uint64_t frame, double seconds, const std::vector<Value>& values,
                        std::vector<PlotPoint>* out) {
  close_before(seconds, out);
  if (!bucket_start_) bucket_start_ = std::floor(seconds / bucket_) * bucket_;
  if (count_ == 0) {
    first_ = PlotPoint{frame, seconds, 1, values};
    min_ = first_;
    max_ = first_;
  } else {
    // NaN is neither a minimum nor a maximum; it stays only where every frame
    // of the bucket had it.
    for (std::size_t i = 0; i < values.size() && i < min_.values.size(); ++i) {
      const double v = value_order(values[i]);
      if (std::isnan(v)) continue;
      const double lo = value_order(min_.values[i]), hi = value_order(max_.values[i]);
      if (std::isnan(lo) || v < lo) min_.values[i] = values[i];
      if (std::isnan(hi) || v > hi) max_.values[i] = values[i];
    }
    max_.frame = frame;
    max_.seconds = seconds;
  }
  ++count_;
}

// ---- LivePlot -------------------------------------------------------------

struct LivePlot::Impl {
  explicit Impl(LivePlotOptions o) : options(std::move(o)) {}

  // Everything below `mutex` is shared by the receive loop and the streams.
  std::string batch_json(const std::vector<PlotPoint>& points);
  // Turns finished buckets into one batch, at most once per kBatchPeriod.
  void maybe_batch(Clock::time_point now);
  bool stream(const http::Send& send, std::uint64_t* cursor, Clock::time_point* beat);
  http::Response respond(const http::Request& request);

  LivePlotOptions options;
  std::unique_ptr<http::Server> server;
  std::string dygraph_js, dygraph_css;

  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  int streams = 0;
  Clock::time_point start = Clock::now();
  std::optional<Clock::time_point> first_frame;
  PlotDecimator decimator{kBucketSeconds};
  std::vector<PlotPoint> finished;
  std::deque<std::pair<std::uint64_t, std::string>> history;  // (id, event data)
  std::uint64_t next_id = 1;
  Clock::time_point last_batch = Clock::now();
  std::uint64_t frames = 0, malformed = 0, lost = 0, points = 0;
  // Frame counts of the last second's batches, for the rate.
  std::deque<std::pair<Clock::time_point, std::uint64_t>> rate_window;
};

std::string LivePlot::Impl::batch_json(const std::vector<PlotPoint>& batch) {
  while (!rate_window.empty() && Clock::now() - rate_window.front().first > std::chrono::seconds(1))
    rate_window.pop_front();
  double rate = 0;
  if (!rate_window.empty()) {
    const double span =
        std::chrono::duration<double>(Clock::now() - rate_window.front().first).count();
    if (span > 0) rate = static_cast<double>(frames - rate_window.front().second) / span;
  }
  rate_window.emplace_back(Clock::now(), frames);

  std::string out = "{\"type\":\"" + std::string(value_type_name(options.type)) + "\",\"inputs\":";
  out += options.inputs ? std::to_string(*options.inputs) : "null";
  char r[32];
  std::snprintf(r, sizeof r, "%.1f", rate);
  out += ",\"frames\":" + std::to_string(frames) + ",\"malformed\":" + std::to_string(malformed) +
         ",\"lost\":" + (options.drops_counted ? std::to_string(lost) : "null") + ",\"rate\":" + r +
         ",\"points_sent\":" + std::to_string(points) + ",\"points\":[";
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (i) out += ",";
    out += json_point(batch[i]);
  }
  return out + "]}";
}

void LivePlot::Impl::maybe_batch(Clock::time_point now) {
  if (now - last_batch < kBatchPeriod) return;
  last_batch = now;
  if (first_frame)
    decimator.close_before(std::chrono::duration<double>(now - *first_frame).count(), &finished);
  points += finished.size();
  history.emplace_back(next_id++, batch_json(finished));
  finished.clear();
  while (history.size() > kHistoryBatches) history.pop_front();
  wake.notify_all();
}

// Sends what the page has not seen yet; false when the page is gone or the
// server stops, which ends this stream only.
bool LivePlot::Impl::stream(const http::Send& send, std::uint64_t* cursor,
                            Clock::time_point* beat) {
  std::string out;
  {
    std::unique_lock lock(mutex);
    wake.wait_for(lock, kBatchPeriod,
                  [&] { return stopping || (!history.empty() && history.back().first > *cursor); });
    if (stopping) return false;
    maybe_batch(Clock::now());
    for (const auto& [id, data] : history) {
      if (id <= *cursor) continue;
      out += "id: " + std::to_string(id) + "\ndata: " + data + "\n\n";
      *cursor = id;
    }
  }
  const auto now = Clock::now();
  if (out.empty() && now - *beat >= kHeartbeat) out = ": alive\n\n";
  if (out.empty()) return true;
  *beat = now;
  return send(out);
}

http::Response LivePlot::Impl::respond(const http::Request& request) {
  http::Response r;
  const auto file = [&r](std::string_view content, const char* type) {
    r.body = std::string(content);
    r.type = type;
  };
  if (request.path == "/") {
    file(web::k_index_html, "text/html; charset=utf-8");
  } else if (request.path == "/plot.js") {
    file(web::k_plot_js, "text/javascript; charset=utf-8");
  } else if (request.path == "/dygraph.min.js") {
    file(dygraph_js, "text/javascript; charset=utf-8");
  } else if (request.path == "/dygraph.min.css") {
    file(dygraph_css, "text/css; charset=utf-8");
  } else if (request.path == "/events") {
    {
      std::lock_guard lock(mutex);
      if (stopping || streams >= kMaxStreams) {
        r.status = 503;
        file("too many open pages\n", "text/plain; charset=utf-8");
        return r;
      }
      ++streams;
    }
    // A page that reconnects says what it saw last, and gets only what follows.
    auto cursor = std::make_shared<std::uint64_t>(0);
    const std::string& seen = request.last_event_id;
    std::from_chars(seen.data(), seen.data() + seen.size(), *cursor);
    auto beat = std::make_shared<Clock::time_point>(Clock::now());
    r.type = "text/event-stream";
    r.stream = [this, cursor, beat](const http::Send& send) {
      return stream(send, cursor.get(), beat.get());
    };
    r.done = [this] {
      std::lock_guard lock(mutex);
      --streams;
    };
  } else {
    r.status = 404;
    file("not found\n", "text/plain; charset=utf-8");
  }
  return r;
}

LivePlot::LivePlot(LivePlotOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

LivePlot::~LivePlot() { stop(); }

std::string LivePlot::start() {
  Impl& d = *impl_;
  const std::string dir =
      d.options.chart_folder.empty() ? files::chart_library_folder() : d.options.chart_folder;
  auto js = files::read_whole(files::join(dir, "dygraph.min.js"));
  auto css = files::read_whole(files::join(dir, "dygraph.min.css"));
  if (!js || !css || js->empty() || css->empty())
    return "cannot read dygraph.min.js and dygraph.min.css in " + dir +
           " (" SV_CHART_LIBRARY_HINT ")";
  d.dygraph_js = std::move(*js);
  d.dygraph_css = std::move(*css);
  d.server = std::make_unique<http::Server>([&d](const http::Request& r) { return d.respond(r); });
  return d.server->start(d.options.host, d.options.port);
}

std::uint16_t LivePlot::port() const { return impl_->server ? impl_->server->port() : 0; }
std::string LivePlot::host() const { return impl_->options.host; }

void LivePlot::frame(std::uint64_t number, double seconds, const std::vector<Value>& values) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (!d.first_frame)
    d.first_frame = Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
  ++d.frames;
  d.decimator.add(number, seconds, values, &d.finished);
  // Batches form here too, so that finished buckets never pile up while no
  // page is open.
  d.maybe_batch(Clock::now());
}

void LivePlot::malformed() {
  std::lock_guard lock(impl_->mutex);
  ++impl_->malformed;
}

void LivePlot::lost(std::uint64_t total) {
  std::lock_guard lock(impl_->mutex);
  impl_->lost = total;
}

void LivePlot::stop() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    if (d.stopping) return;
    d.stopping = true;
  }
  d.wake.notify_all();
  if (d.server) d.server->stop();
}

}  // namespace sv::recv
