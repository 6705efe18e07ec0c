#include "tools/live_plot.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using sv::recv::PlotBatch;
using sv::recv::PlotDecimator;
using sv::recv::PlotHistory;
using sv::recv::PlotPoint;
using sv::recv::Value;

double at(const PlotPoint& p, std::size_t i) { return sv::recv::to_double(p.values[i]); }

// At a rate below one frame per bucket every frame comes out as it was.
TEST(PlotDecimator, SlowFramesPassUnchanged) {
  PlotDecimator d(0.01);
  std::vector<PlotPoint> out;
  for (int k = 0; k < 5; ++k)
    d.add(k + 1, k * 0.05, {Value{k * 1.5}, Value{std::int64_t{-k}}}, &out);
  d.close_before(1.0, &out);
  ASSERT_EQ(out.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(out[k].frame, static_cast<std::uint64_t>(k + 1));
    EXPECT_EQ(out[k].merged, 1u);
    EXPECT_EQ(at(out[k], 0), k * 1.5);
    EXPECT_EQ(std::get<std::int64_t>(out[k].values[1]), -k);
  }
}

// A flood becomes two points per bucket: per-input minima at the bucket's
// first frame and maxima at its last, so a one-frame spike survives, and
// the total stays bounded by the bucket count whatever the frame rate.
TEST(PlotDecimator, FloodKeepsExtremesAndIsBounded) {
  PlotDecimator d(0.01);
  std::vector<PlotPoint> out;
  const int frames = 10000;  // one second at 10,000 frames/s
  for (int k = 0; k < frames; ++k) {
    const double v = k == 4321 ? 1e9 : std::sin(k * 0.01);
    d.add(k + 1, k * 1e-4, {Value{v}, Value{-v}}, &out);
  }
  d.close_before(2.0, &out);
  EXPECT_LE(out.size(), 2u * 101);
  EXPECT_GE(out.size(), 2u * 99);
  std::uint32_t covered = 0;
  bool spike = false;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    const PlotPoint& lo = out[i];
    const PlotPoint& hi = out[i + 1];
    ASSERT_EQ(lo.merged, hi.merged);
    EXPECT_EQ(hi.frame - lo.frame + 1, lo.merged) << "frames " << lo.frame << ".." << hi.frame;
    EXPECT_LE(at(lo, 0), at(hi, 0));
    EXPECT_EQ(at(lo, 1), -at(hi, 0));  // input 2 is the negation: its min is input 1's max
    covered += lo.merged;
    spike = spike || at(hi, 0) == 1e9;
  }
  EXPECT_EQ(covered, static_cast<std::uint32_t>(frames));
  EXPECT_TRUE(spike);
}

// NaN is neither minimum nor maximum; a bucket of NaN alone keeps it.
TEST(PlotDecimator, NanOnlyWhereEveryFrameHadIt) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PlotDecimator d(1.0);
  std::vector<PlotPoint> out;
  d.add(1, 0.1, {Value{nan}, Value{nan}}, &out);
  d.add(2, 0.2, {Value{2.0}, Value{nan}}, &out);
  d.add(3, 0.3, {Value{-3.0}, Value{nan}}, &out);
  d.close_before(5.0, &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(at(out[0], 0), -3.0);
  EXPECT_EQ(at(out[1], 0), 2.0);
  EXPECT_TRUE(std::isnan(at(out[0], 1)));
  EXPECT_TRUE(std::isnan(at(out[1], 1)));
}

// A bucket closes on the next frame past its end or on the clock, not before.
TEST(PlotDecimator, BucketsCloseAtTheirEnd) {
  PlotDecimator d(0.01);
  std::vector<PlotPoint> out;
  d.add(1, 0.001, {Value{1.0}}, &out);
  d.close_before(0.009, &out);
  EXPECT_TRUE(out.empty());
  d.add(2, 0.0095, {Value{2.0}}, &out);
  EXPECT_TRUE(out.empty());
  d.add(3, 0.0101, {Value{3.0}}, &out);
  ASSERT_EQ(out.size(), 2u);  // frames 1 and 2 as minimum and maximum
  EXPECT_EQ(out[1].frame, 2u);
  d.close_before(0.0201, &out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].frame, 3u);
  EXPECT_EQ(out[2].merged, 1u);
}

// The history keeps the newest batches within its count and bytes, never
// fewer than one; a page takes what follows its cursor within its bytes,
// from the oldest kept when it fell behind, the same batches every page
// shares.
TEST(PlotHistory, KeepsTheNewestWithinItsBytesAndHandsThemOutInSteps) {
  PlotHistory h(5, 250);
  const auto ids = [](const std::vector<sv::recv::PlotBatchPtr>& batches) {
    std::string out;
    for (const auto& b : batches) out += std::to_string(b->id) + " ";
    return out;
  };
  EXPECT_EQ(ids(h.after(0, 1000)), "");
  for (std::uint64_t id = 1; id <= 6; ++id)
    h.add(std::make_shared<PlotBatch>(PlotBatch{id, std::string(id == 6 ? 300 : 100, 'x')}));
  EXPECT_EQ(ids(h.after(0, 1000)), "6 ");  // alone over the bytes, and still kept
  EXPECT_EQ(h.bytes(), 300u);
  for (std::uint64_t id = 7; id <= 9; ++id)
    h.add(std::make_shared<PlotBatch>(PlotBatch{id, std::string(100, 'x')}));
  EXPECT_EQ(h.bytes(), 200u);
  EXPECT_EQ(ids(h.after(0, 1000)), "8 9 ");
  EXPECT_EQ(ids(h.after(8, 1000)), "9 ");
  EXPECT_EQ(ids(h.after(9, 1000)), "");
  EXPECT_EQ(ids(h.after(0, 150)), "8 ");
  EXPECT_EQ(ids(h.after(0, 1)), "8 ");  // one at least
  EXPECT_EQ(h.after(7, 1000).front().get(), h.after(0, 1).front().get());
  PlotHistory few(2, 1 << 20);
  for (std::uint64_t id = 1; id <= 3; ++id)
    few.add(std::make_shared<PlotBatch>(PlotBatch{id, "x"}));
  EXPECT_EQ(ids(few.after(0, 1000)), "2 3 ");
}

}  // namespace
