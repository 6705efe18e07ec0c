// The live plot of udpsv-recv --http: a small HTTP server (http_server.h)
// that serves one page (dygraphs from the system's package, or from beside
// the program on Windows) and streams the frames to it with Server-Sent
// Events.
//
// The receive loop must never wait for a browser, and a browser must never
// see more than a screen can show, however fast frames come. So the loop only
// hands each frame to a PlotDecimator under a short lock; the decimator merges
// frames into buckets of fixed width; and every open page gets the finished
// buckets in batches a few times a second, each from its own server thread.
// A page that goes away ends its own thread and nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "receiving/frame_decode.h"

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
