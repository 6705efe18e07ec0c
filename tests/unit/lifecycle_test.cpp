// The exports linked in-process, for what a loaded library does not show:
// the owner window, the start-up's control word and the run-once units.
#include <gtest/gtest.h>

#include <vector>

#include "base/x87.h"
#include "plugin/block_record.h"
#include "base/owner_window.h"
#include "plugin/startup.h"
#include "plugin/udpsv_exports.h"
#include "base/user_data.h"
#include "host/udp_probe.h"
#include "plugin/udpsv_exports.h"

namespace {

std::vector<unsigned char> block(std::uintptr_t owner) {
  std::vector<unsigned char> b(8192, 0);
  std::memcpy(b.data() + SV_BLOCK_OWNER_WINDOW, &owner, sizeof owner);
  return b;
}

TEST(Lifecycle, OwnerWindowFollowsTheLatestBlockAndAnyDisposeClearsIt) {
  auto a = block(0x1111), b = block(0x2222);
  InitUserDLL(a.data());
  EXPECT_EQ(sv::owner_window(), 0x1111u);
  InitUserDLL(b.data());
  EXPECT_EQ(sv::owner_window(), 0x2222u);
  DisposeUserDLL(a.data());
  EXPECT_EQ(sv::owner_window(), 0u);  // while B still exists
  // The slot is not cleared by dispose.
  EXPECT_NE(sv::block_record::user_data(a.data()), nullptr);
  const sv::TUserData* d = sv::block_record::user_data(b.data());
  EXPECT_EQ(d->IPAddress, u"127.0.0.1");
  EXPECT_EQ(d->Port, 1600);
  EXPECT_EQ(d->Inputs, 1);
  EXPECT_EQ(d->DataType, 0);
  DisposeUserDLL(b.data());
}

TEST(Lifecycle, RunEndWithoutSenderAndStepWithoutRunFailCleanly) {
  auto b = block(0);
  InitUserDLL(b.data());
  EndSimulationDLL2(b.data());
  EndSimulationDLL2(b.data());
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  unsigned char one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  SimulateDLL2(0, 0, 0, 0, 0, 0, b.data(), one, 0);
  EXPECT_GT(GetLastFailureDLL(nullptr, 0), 0);
  DisposeUserDLL(b.data());
}

TEST(Lifecycle, StartupSetsTheControlWordAndRunsOnce) {
  const std::uint16_t saved = sv::x87::control_word();
  sv::x87::load(0x037F, 0);
  sv::library_startup();
  EXPECT_EQ(sv::x87::control_word() & ~0x40, sv::x87::kStartupControlWord);
  // A second start-up does nothing: the word a caller set afterwards stays.
  sv::x87::load(0x037F, 0);
  sv::library_startup();
  EXPECT_EQ(sv::x87::control_word(), 0x037F);
  sv::library_shutdown();
  sv::library_shutdown();
  sv::x87::load(saved, 0);
}

}  // namespace
