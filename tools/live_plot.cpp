#include "tools/live_plot.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "system/files.h"
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
// Batches kept for pages that open later: 60 s of history, within
// LivePlotOptions::history_bytes.
constexpr std::size_t kHistoryBatches = 600;

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

void append_json_point(const PlotPoint& p, std::string* out) {
  char t[80];
  std::snprintf(t, sizeof t, "[%llu,%.6f,%lu", static_cast<unsigned long long>(p.frame), p.seconds,
                static_cast<unsigned long>(p.merged));
  *out += t;
  for (const auto& v : p.values) {
    *out += ',';
    *out += json_value(v);
  }
  *out += ']';
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

// ---- PlotHistory -----------------------------------------------------------

void PlotHistory::add(PlotBatchPtr batch) {
  held_ += batch->text.size();
  batches_.push_back(std::move(batch));
  while (batches_.size() > 1 && (batches_.size() > count_ || held_ > bytes_)) {
    held_ -= batches_.front()->text.size();
    batches_.pop_front();
  }
}

std::vector<PlotBatchPtr> PlotHistory::after(std::uint64_t cursor, std::size_t bytes) const {
  std::vector<PlotBatchPtr> out;
  if (newest() <= cursor) return out;
  const std::uint64_t oldest = batches_.front()->id;
  std::size_t taken = 0;
  for (std::size_t i = cursor < oldest ? 0 : cursor + 1 - oldest; i < batches_.size(); ++i) {
    taken += batches_[i]->text.size();
    if (!out.empty() && taken > bytes) break;
    out.push_back(batches_[i]);
  }
  return out;
}

// ---- LivePlot -------------------------------------------------------------

namespace {

struct Counts {
  std::uint64_t frames, malformed, lost;
};

}  // namespace

struct LivePlot::Impl {
  explicit Impl(LivePlotOptions o) : options(std::move(o)) {}

  // The batcher's thread: a batch of the finished buckets every kBatchPeriod.
  void batch_loop();
  std::string event_text(std::uint64_t id, Counts counts, const std::vector<PlotPoint>& points);
  bool stream(const http::Send& send, std::uint64_t* cursor, Clock::time_point* beat);
  http::Response respond(const http::Request& request);

  LivePlotOptions options;
  std::unique_ptr<http::Server> server;
  std::string dygraph_js, dygraph_css;
  std::thread batcher;

  // Shared by the receive loop, the batcher and the streams, each of which
  // holds it only to move points or to take batch pointers.
  std::mutex mutex;
  std::condition_variable batched;  // a batch came, or stopping
  bool stopping = false;
  std::optional<Clock::time_point> first_frame;
  PlotDecimator decimator{kBucketSeconds};
  std::vector<PlotPoint> finished;
  std::uint64_t frames = 0, malformed = 0, lost = 0;
  PlotHistory history{kHistoryBatches, options.history_bytes};

  // The batcher's own.
  std::uint64_t points = 0;
  // Frame counts of the last second's batches, for the rate.
  std::deque<std::pair<Clock::time_point, std::uint64_t>> rate_window;
};

std::string LivePlot::Impl::event_text(std::uint64_t id, Counts counts,
                                       const std::vector<PlotPoint>& batch) {
  const auto now = Clock::now();
  while (!rate_window.empty() && now - rate_window.front().first > std::chrono::seconds(1))
    rate_window.pop_front();
  double rate = 0;
  if (!rate_window.empty()) {
    const double span = std::chrono::duration<double>(now - rate_window.front().first).count();
    if (span > 0) rate = static_cast<double>(counts.frames - rate_window.front().second) / span;
  }
  rate_window.emplace_back(now, counts.frames);
  points += batch.size();

  std::string out = "id: " + std::to_string(id) + "\ndata: {\"type\":\"" +
                    std::string(value_type_name(options.type)) + "\",\"inputs\":";
  out += options.inputs ? std::to_string(*options.inputs) : "null";
  char r[32];
  std::snprintf(r, sizeof r, "%.1f", rate);
  out += ",\"frames\":" + std::to_string(counts.frames) +
         ",\"malformed\":" + std::to_string(counts.malformed) +
         ",\"lost\":" + (options.drops_counted ? std::to_string(counts.lost) : "null") +
         ",\"rate\":" + r + ",\"points_sent\":" + std::to_string(points) + ",\"points\":[";
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (i) out += ',';
    append_json_point(batch[i], &out);
  }
  return out + "]}\n\n";
}

void LivePlot::Impl::batch_loop() {
  std::vector<PlotPoint> taken;
  std::uint64_t next_id = 1;
  for (auto next = Clock::now() + kBatchPeriod;; next += kBatchPeriod) {
    Counts counts;
    {
      std::unique_lock lock(mutex);
      batched.wait_until(lock, next, [this] { return stopping; });
      if (stopping) return;
      if (first_frame)
        decimator.close_before(std::chrono::duration<double>(Clock::now() - *first_frame).count(),
                               &finished);
      taken.swap(finished);
      counts = {frames, malformed, lost};
    }
    next = std::max(next, Clock::now() - kBatchPeriod);  // no burst after a stall
    try {
      auto batch =
          std::make_shared<PlotBatch>(PlotBatch{next_id, event_text(next_id, counts, taken)});
      std::lock_guard lock(mutex);
      history.add(std::move(batch));
      ++next_id;
    } catch (const std::bad_alloc&) {
      // These points are lost to the pages; the receiver goes on.
    }
    taken.clear();
    batched.notify_all();
  }
}

// Sends what the page has not seen yet, at most options.page_bytes at a
// time; false when the page is gone or the server stops, which ends this
// stream only.
bool LivePlot::Impl::stream(const http::Send& send, std::uint64_t* cursor,
                            Clock::time_point* beat) {
  std::vector<PlotBatchPtr> due;
  {
    std::unique_lock lock(mutex);
    batched.wait_until(lock, *beat + kHeartbeat,
                       [&] { return stopping || history.newest() > *cursor; });
    if (stopping) return false;
    due = history.after(*cursor, options.page_bytes);
  }
  if (due.empty()) {
    if (Clock::now() - *beat < kHeartbeat) return true;
    *beat = Clock::now();
    return send(": alive\n\n");
  }
  for (const PlotBatchPtr& batch : due) {
    if (!send(batch->text)) return false;
    *cursor = batch->id;
  }
  *beat = Clock::now();
  return true;
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
    // A page that reconnects says what it saw last, and gets only what follows.
    auto cursor = std::make_shared<std::uint64_t>(0);
    const std::string& seen = request.last_event_id;
    std::from_chars(seen.data(), seen.data() + seen.size(), *cursor);
    auto beat = std::make_shared<Clock::time_point>(Clock::now());
    r.type = "text/event-stream";
    r.stream = [this, cursor, beat](const http::Send& send) {
      return stream(send, cursor.get(), beat.get());
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
  d.batcher = std::thread(&Impl::batch_loop, &d);
  d.server = std::make_unique<http::Server>([&d](const http::Request& r) { return d.respond(r); },
                                            d.options.limits);
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
  d.batched.notify_all();
  if (d.batcher.joinable()) d.batcher.join();
  if (d.server) d.server->stop();
}

}  // namespace sv::recv
