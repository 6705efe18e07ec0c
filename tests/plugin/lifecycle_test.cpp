// The exports linked in-process, for what a loaded library does not show:
// the owner window, the start-up's control word and the run-once units.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/owner_window.h"
#include "base/user_data.h"
#include "base/x87.h"
#include "dialog/UDPSV2SimulinkForm.h"
#include "plugin/block_record.h"
#include "plugin/boundary.h"
#include "plugin/startup.h"
#include "system/udp_probe.h"
#include "tests/common/failure.h"
#include "tests/common/headless.h"
#include "udpsv_exports.h"

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

// The host's record layout, in the host's own numbers: the owner window is
// read at byte 5579, and the user-data slot at byte 5571 is the only thing
// the library writes into the record.
TEST(Lifecycle, TheRecordsSlotsSitWhereTheHostKeepsThem) {
  constexpr std::size_t kUserDataSlot = 5571, kOwnerWindow = 5579;
  std::vector<unsigned char> b(8192, 0);
  const std::uintptr_t owner = 0x3333;
  std::memcpy(b.data() + kOwnerWindow, &owner, sizeof owner);
  const std::vector<unsigned char> before = b;
  InitUserDLL(b.data());
  EXPECT_EQ(sv::owner_window(), owner);
  void* slot = nullptr;
  std::memcpy(&slot, b.data() + kUserDataSlot, sizeof slot);
  EXPECT_NE(slot, nullptr);
  EXPECT_EQ(slot, sv::block_record::user_data(b.data()));
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i >= kUserDataSlot && i < kUserDataSlot + sizeof slot) continue;
    EXPECT_EQ(b[i], before[i]) << "byte " << i << " of the record changed";
  }
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

// A host that calls the library from its own messages while a block's
// dialog is open: a second dialog for the block is refused, and a dispose
// keeps the record until the dialog is gone, whose OK then stores nothing
// (the sanitizer build sees any write into the freed record).
TEST(Lifecycle, ADialogOutlivesADisposeOfItsBlockAndRefusesASecond) {
  auto b = block(0);
  InitUserDLL(b.data());
  std::uint8_t byte = 0xEE;
  std::string second;
  sv::ui::headless::set_script({[&](sv::ui::headless::Form& d) {
    CallParameterDialogDLL(b.data(), &byte);
    second = svtest::last_failure();
    d[sv::kIPEdit].set_text(u"10.0.0.1");
    DisposeUserDLL(b.data());
    d.press_enter();
  }});
  CallParameterDialogDLL(b.data(), &byte);
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  EXPECT_EQ(second, "Der Parameterdialog dieses Blocks ist bereits geöffnet.");
  EXPECT_EQ(byte, 0xEE);
  sv::ui::headless::reset();
}

// Once a block's dialog has closed, its next one opens and stores again.
TEST(Lifecycle, ABlocksNextDialogOpensOnceTheFirstHasClosed) {
  auto b = block(0);
  InitUserDLL(b.data());
  for (const char16_t* address : {u"10.0.0.1", u"10.0.0.2"}) {
    std::uint8_t byte = 0xEE;
    sv::ui::headless::set_script({[&](sv::ui::headless::Form& d) {
      d[sv::kIPEdit].set_text(address);
      d.press_enter();
    }});
    CallParameterDialogDLL(b.data(), &byte);
    EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
    EXPECT_EQ(sv::block_record::user_data(b.data())->IPAddress, address);
    EXPECT_EQ(byte, 1);
    sv::ui::headless::reset();
  }
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

// Each thread has its own failure record, which only that thread's next
// export clears; an export finds nothing to clear while no thread has a
// failure recorded, so this checks that the library keeps that count right
// across threads, and that a thread still calls right while another one's
// failure stays recorded. The test's threads free their records before
// they end, as the win32 build does at every thread's end.
TEST(Lifecycle, FailureRecordsArePerThreadAndClearedByTheirOwnThread) {
  svhost::UdpProbe sink;
  auto running = block(0), idle = block(0);
  InitUserDLL(running.data());
  InitUserDLL(idle.data());
  sv::block_record::user_data(running.data())->Port = sink.port();
  const unsigned char one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  InitSimulationDLL(running.data(), one, 0);
  ASSERT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  auto step = [&] { SimulateDLL2(0, 0, 0, 0, 0, 0, running.data(), one, 0); };
  auto fail = [&] { SimulateDLL2(0, 0, 0, 0, 0, 0, idle.data(), one, 0); };  // no run
  using svtest::last_failure;

  // The steps of the two threads interleave as the stages say.
  std::mutex m;
  std::condition_variable cv;
  int stage = 0;
  auto wait_for = [&](int s) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return stage >= s; });
  };
  auto go = [&](int s) {
    {
      std::lock_guard<std::mutex> lock(m);
      stage = s;
    }
    cv.notify_all();
  };

  fail();
  const std::string failure = last_failure();
  ASSERT_FALSE(failure.empty());
  std::thread other([&] {
    step();
    EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
    fail();
    EXPECT_EQ(last_failure(), failure);
    step();
    step();  // a record already clear is cleared again
    EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
    go(1);
    wait_for(2);
    sv::boundary::release_thread_record();
  });
  wait_for(1);
  EXPECT_EQ(last_failure(), failure);  // the other thread's calls left this one's record alone
  step();
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  go(2);
  other.join();

  // Another thread's failure stays recorded while this one calls.
  std::thread holder([&] {
    fail();
    go(3);
    wait_for(4);
    EXPECT_EQ(last_failure(), failure);
    step();
    EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
    sv::boundary::release_thread_record();
  });
  wait_for(3);
  fail();
  EXPECT_EQ(last_failure(), failure);
  step();
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  GetDLLName();
  EXPECT_EQ(GetLastFailureDLL(nullptr, 0), 0);
  go(4);
  holder.join();

  EndSimulationDLL2(running.data());
  DisposeUserDLL(running.data());
  DisposeUserDLL(idle.data());
}

}  // namespace
