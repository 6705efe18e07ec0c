// The live plot of udpsv-recv --http: a small HTTP server (http_server.h)
// that serves one page (dygraphs from the system's package, or from beside
// the program on Windows) and streams the frames to it with Server-Sent
// Events.
//
// The receive loop must never wait for a browser, and a browser must never
// see more than a screen can show, however fast frames come. So the loop only
// hands each frame to a PlotDecimator under a short lock; the decimator merges
// frames into buckets of fixed width; a thread of the plot turns the finished
// buckets into one batch of text ten times a second, outside that lock; and
// every open page gets the batches, shared and never copied, from its own
// server thread. A page that goes away ends its own thread and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "receiving/frame_decode.h"
#include "tools/http_server.h"

namespace sv::recv {

// One plotted point: a frame as it arrived, or, where several frames fell
// into one bucket, their per-input minimum or maximum.
struct PlotPoint {
  std::uint64_t frame = 0;   // number of the (first or last) frame it stands for
  double seconds = 0;        // that frame's arrival, from the first frame
  std::uint32_t merged = 1;  // frames the bucket held
  std::vector<Value> values;
};

// Merges frames into buckets of `bucket_seconds`. A bucket of one frame gives
// that frame; a bucket of more gives two points, the per-input minima at the
// first frame's time and the maxima at the last frame's, so that a spike is
// never decimated away. At most 2 / bucket_seconds points per second leave it.
class PlotDecimator {
 public:
  explicit PlotDecimator(double bucket_seconds) : bucket_(bucket_seconds) {}

  // Frames must come in order of time. Appends the points of every bucket
  // that `seconds` closes.
  void add(std::uint64_t frame, double seconds, const std::vector<Value>& values,
           std::vector<PlotPoint>* out);
  // Closes the open bucket when `now` (seconds, same clock) is past its end.
  void close_before(double now, std::vector<PlotPoint>* out);

 private:
  void emit(std::vector<PlotPoint>* out);

  double bucket_;
  std::optional<double> bucket_start_;
  std::uint32_t count_ = 0;
  PlotPoint first_, last_, min_, max_;
};

// One batch of the plot as every page gets it: the event's whole text.
struct PlotBatch {
  std::uint64_t id;
  std::string text;
};
using PlotBatchPtr = std::shared_ptr<const PlotBatch>;

// The batches kept for pages that open later: the newest `count` within
// `bytes`, and always the newest one. Ids follow each other. Batches are
// shared, so a page that takes some copies pointers only.
class PlotHistory {
 public:
  PlotHistory(std::size_t count, std::size_t bytes) : count_(count), bytes_(bytes) {}
  void add(PlotBatchPtr batch);
  // The batches after `cursor` (from the oldest kept when the cursor is
  // behind them) that fit in `bytes`, and at least one when there is one.
  std::vector<PlotBatchPtr> after(std::uint64_t cursor, std::size_t bytes) const;
  std::uint64_t newest() const { return batches_.empty() ? 0 : batches_.back()->id; }
  std::size_t bytes() const { return held_; }

 private:
  std::size_t count_, bytes_, held_ = 0;
  std::deque<PlotBatchPtr> batches_;
};

struct LivePlotOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0 picks a free port
  ValueType type = ValueType::Double;
  std::optional<std::size_t> inputs;
  // Where dygraph.min.js and dygraph.min.css are; empty: the system's.
  std::string chart_folder;
  // Whether the system counts datagrams lost to a full queue; the page
  // shows the count as unknown otherwise.
  bool drops_counted = true;

  // Memory. A batch holds the points of 100 ms, at most 22 (two per 10 ms
  // bucket), each about 25 bytes of text per input (a double's shortest
  // text and a comma) and 40 more: with N inputs a second of plot is about
  // 200 x (25 N + 40) bytes, 5 kB per input. The batches kept for pages
  // that open later, shared by every page, are the last 60 s but at most
  // history_bytes: the full minute up to about 55 inputs (a block sends 50
  // at most), 3 s of 1,000 inputs. A page takes at most page_bytes of them
  // at a time (one batch when it is larger, past about 1,900 inputs) and
  // holds them while it sends them. So the plot takes at most
  // history_bytes + limits.streams x page_bytes, 32 MiB with the defaults.
  std::size_t history_bytes = std::size_t{16} << 20;
  std::size_t page_bytes = std::size_t{1} << 20;
  http::Limits limits;
};

class LivePlot {
 public:
  explicit LivePlot(LivePlotOptions options);
  ~LivePlot();  // stops the server
  LivePlot(const LivePlot&) = delete;
  LivePlot& operator=(const LivePlot&) = delete;

  // Binds and starts serving in threads of its own. Returns an error text,
  // empty on success. Needs the socket library started.
  std::string start();
  std::uint16_t port() const;
  std::string host() const;

  // From the receive loop; each takes a short lock and never blocks on a page.
  void frame(std::uint64_t number, double seconds, const std::vector<Value>& values);
  void malformed();
  void lost(std::uint64_t total);

  // Ends every page's stream and the server.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sv::recv
