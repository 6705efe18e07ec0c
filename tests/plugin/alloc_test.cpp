// A step to a dotted address makes no heap allocation once the run has
// started: the frame lives on the stack and the address is parsed in place.
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "base/user_data.h"
#include "plugin/block_record.h"
#include "system/udp_probe.h"
#include "tests/common/ext80.h"
#include "udpsv_exports.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// Every form that ends in the deletes below (GoogleTest 1.16 allocates with
// the nothrow one), so that the sanitizer sees matching pairs.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(Allocation, StepToADottedAddressAllocatesNothing) {
  svhost::UdpProbe sink;
  std::vector<unsigned char> record(8192, 0);
  InitUserDLL(record.data());
  sv::TUserData* d = sv::block_record::user_data(record.data());
  d->Port = sink.port();
  d->Inputs = 50;
  std::vector<svtest::Ext80> values;
  for (int i = 0; i < 50; ++i) values.push_back(svtest::ext(i * 0.25));
  const auto in = svtest::array(values);
  InitSimulationDLL(record.data(), in.data(), 0);
  ASSERT_EQ(GetLastFailureDLL(nullptr, 0), 0);

  for (std::int32_t type : {0, 1, 2, 3}) {
    d->DataType = type;
    const long before = g_allocations.load();
    for (int i = 0; i < 100; ++i) SimulateDLL2(0, 0, 0, 0, 0, 0, record.data(), in.data(), 0);
    EXPECT_EQ(g_allocations.load() - before, 0) << "type " << type;
  }
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  EndSimulationDLL2(record.data());
  DisposeUserDLL(record.data());
}

}  // namespace
