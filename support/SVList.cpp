#include "support/SVList.h"

#include <cmath>

#include "base/errors.h"
#include "base/x87.h"

namespace sv {
TObjectList::~TObjectList() { Clear(); }

void TObjectList::Add(std::unique_ptr<TObject> item) { items_.push_back(std::move(item)); }

void TObjectList::Clear() {
  while (!items_.empty()) {
    std::unique_ptr<TObject> last = std::move(items_.back());
    items_.pop_back();
  }
}

long double TExtendedList::Items(std::size_t index) const {
  return static_cast<const TExtended*>(TObjectList::Items(index))->Value;
}

void TExtendedList::Add(long double value) { TObjectList::Add(std::make_unique<TExtended>(value)); }

// The comparisons are the quiet ones: a NaN makes them false without
// raising the invalid-operation flag, so a NaN element is skipped by the
// minimum and taken by the maximum whatever traps the caller has on.
long double TExtendedList::MinimumValue() const {
  return x87::guarded([this] {
    long double result = 1e30L;
    for (std::size_t i = 0; i < Count(); ++i) {
      const long double x = Items(i);
      if (std::isgreater(result, x)) result = x;
    }
    return result;
  });
}

long double TExtendedList::MaximumValue() const {
  return x87::guarded([this] {
    long double result = -1e30L;
    for (std::size_t i = 0; i < Count(); ++i) {
      const long double x = Items(i);
      if (!std::isgreaterequal(result, x)) result = x;
    }
    return result;
  });
}

long double TExtendedList::Average() const {
  if (Count() == 0) return 0.0L;
  return x87::guarded([this] {
    long double sum = 0.0L;
    for (std::size_t i = 0; i < Count(); ++i) sum += Items(i);
    return sum / static_cast<long double>(Count());
  });
}

long double TExtendedList::Stdeviation() const {
  const long double average = Average();
  if (Count() < 2) return 0.0L;
  return x87::guarded([this, average] {
    long double sum = 0.0L;
    for (std::size_t i = 0; i < Count(); ++i) {
      const long double d = Items(i) - average;
      sum += d * d;
    }
    return std::sqrt(sum / static_cast<long double>(Count() - 1));
  });
}

void TExtendedList::Assign(const TExtendedList& source) {
  Clear();
  for (std::size_t i = 0; i < source.Count(); ++i) Add(source.Items(i));
}

}  // namespace sv
