#include "support/SVList.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/x87.h"
#include "dialog/svcomps.h"

namespace sv {
namespace {

void fill(TExtendedList& list, std::initializer_list<long double> values) {
  for (long double v : values) list.Add(v);
}

const long double kNaN = std::numeric_limits<long double>::quiet_NaN();
const long double kInf = std::numeric_limits<long double>::infinity();

// Loads the start-up control word (traps on invalid, zero divide and
// overflow) for one scope.
class TrappingFpu {
 public:
  TrappingFpu() : saved_(x87::control_word()) { x87::load(x87::kStartupControlWord, 0); }
  ~TrappingFpu() { x87::load(saved_, 0); }

 private:
  std::uint16_t saved_;
};

TEST(TExtendedList, StatisticsOfOneToFour) {
  TExtendedList list;
  fill(list, {1.0L, 2.0L, 3.0L, 4.0L});
  EXPECT_EQ(list.MinimumValue(), 1.0L);
  EXPECT_EQ(list.MaximumValue(), 4.0L);
  EXPECT_EQ(list.Average(), 2.5L);
  EXPECT_NEAR(static_cast<double>(list.Stdeviation()), std::sqrt(5.0 / 3.0), 1e-15);
  // Extended precision throughout: within a few units of the 64-bit mantissa.
  EXPECT_LT(std::fabs(list.Stdeviation() - std::sqrt(5.0L / 3.0L)), 1e-18L);
}

TEST(TExtendedList, EmptyAndSingleElement) {
  TExtendedList empty;
  EXPECT_EQ(empty.MinimumValue(), 1e30L);
  EXPECT_EQ(empty.MaximumValue(), -1e30L);
  EXPECT_EQ(empty.Average(), 0.0L);
  EXPECT_EQ(empty.Stdeviation(), 0.0L);

  TExtendedList one;
  fill(one, {5.0L});
  EXPECT_EQ(one.MinimumValue(), 5.0L);
  EXPECT_EQ(one.MaximumValue(), 5.0L);
  EXPECT_EQ(one.Average(), 5.0L);
  EXPECT_EQ(one.Stdeviation(), 0.0L);
}

TEST(TExtendedList, StartValuesBoundMinimumAndMaximum) {
  TExtendedList high;
  fill(high, {2e30L, 5e30L});
  EXPECT_EQ(high.MinimumValue(), 1e30L);
  EXPECT_EQ(high.MaximumValue(), 5e30L);
  TExtendedList low;
  fill(low, {-2e30L, -5e30L});
  EXPECT_EQ(low.MaximumValue(), -1e30L);
  EXPECT_EQ(low.MinimumValue(), -5e30L);
}

void expect_nan_asymmetry() {
  TExtendedList only_nan;
  fill(only_nan, {kNaN});
  EXPECT_EQ(only_nan.MinimumValue(), 1e30L);         // skipped
  EXPECT_TRUE(std::isnan(only_nan.MaximumValue()));  // taken

  TExtendedList nan_last;
  fill(nan_last, {2.0L, kNaN});
  EXPECT_EQ(nan_last.MinimumValue(), 2.0L);
  EXPECT_TRUE(std::isnan(nan_last.MaximumValue()));

  // Once NaN is the running maximum, the next element replaces it.
  TExtendedList nan_first;
  fill(nan_first, {kNaN, 3.0L, 1.0L});
  EXPECT_EQ(nan_first.MinimumValue(), 1.0L);
  EXPECT_EQ(nan_first.MaximumValue(), 3.0L);
}

TEST(TExtendedList, NaNIsSkippedByMinimumButTakenByMaximum) { expect_nan_asymmetry(); }

TEST(TExtendedList, NaNComparisonsDoNotTrapUnderTheStartupControlWord) {
  TrappingFpu fpu;
  expect_nan_asymmetry();
  TExtendedList with_nan;
  fill(with_nan, {1.0L, kNaN});
  EXPECT_TRUE(std::isnan(with_nan.Average()));  // a quiet NaN propagates quietly
}

TEST(TExtendedList, InvalidOperationIsRaisedOnlyWhenTrapped) {
  TExtendedList list;
  fill(list, {kInf, -kInf});
  EXPECT_TRUE(std::isnan(list.Average()));
  EXPECT_TRUE(std::isnan(list.Stdeviation()));
  {
    TrappingFpu fpu;
    EXPECT_THROW(list.Average(), FloatInvalidOp);
    EXPECT_THROW(list.Stdeviation(), FloatInvalidOp);
    const long double max = std::numeric_limits<long double>::max();
    TExtendedList huge;
    fill(huge, {max, max});
    EXPECT_THROW(huge.Average(), FloatOverflow);
    EXPECT_EQ(huge.MaximumValue(), max);
  }
  EXPECT_EQ(x87::status_word() & x87::kAllExceptions, 0);
}

TEST(TExtendedList, AssignCopiesAndFromItselfEmpties) {
  TExtendedList source;
  fill(source, {1.5L, kInf, -0.25L});
  TExtendedList target;
  fill(target, {9.0L});
  target.Assign(source);
  ASSERT_EQ(target.Count(), 3u);
  EXPECT_EQ(target.Items(0), 1.5L);
  EXPECT_EQ(target.Items(1), kInf);
  EXPECT_EQ(target.Items(2), -0.25L);
  source.Clear();
  EXPECT_EQ(target.Count(), 3u);  // copies, not shared elements

  target.Assign(target);
  EXPECT_EQ(target.Count(), 0u);
}

struct Probe : TObject {
  Probe(int id, std::vector<int>& log) : id_(id), log_(log) {}
  ~Probe() override { log_.push_back(id_); }
  int id_;
  std::vector<int>& log_;
};

TEST(TObjectList, ClearDestroysFromLastToFirstAndDestructionClears) {
  std::vector<int> log;
  {
    TObjectList list;
    for (int i = 0; i < 3; ++i) list.Add(std::make_unique<Probe>(i, log));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(log, (std::vector<int>{2, 1, 0}));
    log.clear();
    for (int i = 10; i < 12; ++i) list.Add(std::make_unique<Probe>(i, log));
  }
  EXPECT_EQ(log, (std::vector<int>{11, 10}));
}

TEST(Svcomps, ListsLiveFromInitToFini) {
  EXPECT_EQ(svcomps::string_list(), nullptr);
  EXPECT_EQ(svcomps::value_list(), nullptr);
  svcomps::init();
  ASSERT_NE(svcomps::string_list(), nullptr);
  ASSERT_NE(svcomps::value_list(), nullptr);
  svcomps::string_list()->push_back(u"b");
  svcomps::string_list()->push_back(u"a");
  svcomps::string_list()->push_back(u"b");
  EXPECT_EQ(*svcomps::string_list(), (std::vector<std::u16string>{u"b", u"a", u"b"}));
  EXPECT_EQ(svcomps::value_list()->Count(), 0u);
  svcomps::fini();
  EXPECT_EQ(svcomps::string_list(), nullptr);
  EXPECT_EQ(svcomps::value_list(), nullptr);
}

}  // namespace
}  // namespace sv
