// The plug-in never harms its host's floating-point state. A host may call
// with any control word, with sticky flags from its own masked work, even
// with an exception already pending, and with every SSE exception unmasked.
// After every export the thread must have no flag set that its control word
// unmasks, the same control word and MXCSR, and every flag it masks still
// set; a trapped condition is a failure of the call, never a hardware trap.
// One source for both builds: natively and with the DLL under Wine.
#include "tests/common/fpu.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/plugin.h"
#include "host/signals.h"
#include "system/dynlib.h"
#include "system/model_file.h"
#include "system/udp_probe.h"
#include "tests/common/ext80.h"
#include "tests/common/plugin.h"
#include "tests/common/texts.h"

namespace svhost {
namespace {

namespace fpu = svtest::fpu;
using svtest::inputs;
using svtest::kInvalidOp;
using svtest::kOverflow;

// ---- loading the library over sticky flags ----------------------------------

struct LoadCase {
  std::uint16_t host_cw;  // masks every exception
  std::uint16_t flags;    // raised by the host's own arithmetic before the load
};

class FpuLoad : public ::testing::TestWithParam<LoadCase> {};

// The start-up loads its control word on the loading thread. Over a sticky
// flag that word unmasks, that used to arm a pending exception which the
// host's next x87 instruction took.
TEST_P(FpuLoad, StickyFlagsAtLoadLeaveNothingPending) {
  const LoadCase c = GetParam();
  const std::uint16_t home_cw = fpu::cw();
  ASSERT_FALSE(dynlib::is_loaded(SV_TEST_PLUGIN_PATH)) << "the library must load afresh";

  fpu::set_x87(c.host_cw, 0);
  fpu::raise_by_arithmetic(c.flags);
  const std::uint16_t before = fpu::sw() & fpu::kAll;
  std::string error;
  void* library = dynlib::open(SV_TEST_PLUGIN_PATH, &error);
  const std::uint16_t cw = fpu::cw(), sw = fpu::sw();
  const std::uint16_t pending = fpu::pending(cw, sw);
  if (!pending) fpu::host_arithmetic();  // would trap with anything pending
  fpu::set_x87(home_cw, 0);

  ASSERT_NE(library, nullptr) << error;
  EXPECT_EQ(pending, 0) << std::hex << "status 0x" << sw << " under control word 0x" << cw;
  EXPECT_EQ(cw & ~fpu::kReserved, 0x1332);
  // The host's flags that the new word masks stay. (The system's own code
  // run by the load may add some of its own.)
  const std::uint16_t kept = before & (fpu::kDenormal | fpu::kUnderflow | fpu::kPrecision);
  EXPECT_EQ(sw & kept, kept) << std::hex << "status 0x" << sw;

  {
    // A first run start with the value 1.0, as the host does next.
    UdpProbe probe;
    auto plugin = Plugin::load(SV_TEST_PLUGIN_PATH);
    auto block = svtest::block_for(*plugin, {0, "127.0.0.1", probe.port(), 1, 0});
    auto one = inputs({1.0});
    EXPECT_TRUE(block->start_run(one.data()).ok);
    EXPECT_TRUE(block->end_run().ok);
    EXPECT_TRUE(probe.receive().has_value());
  }
  dynlib::close(library);
  EXPECT_FALSE(dynlib::is_loaded(SV_TEST_PLUGIN_PATH)) << "the library stayed loaded";
  fpu::set_x87(home_cw, 0);
}

std::vector<LoadCase> load_cases() {
  std::vector<LoadCase> cases;
  for (std::uint16_t cw : {std::uint16_t{0x027F}, std::uint16_t{0x037F}})
    for (std::uint16_t flags : {fpu::kInvalid, fpu::kZeroDivide, fpu::kOverflow, fpu::kDenormal,
                                fpu::kPrecision, fpu::kAll})
      cases.push_back({cw, flags});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sticky, FpuLoad, ::testing::ValuesIn(load_cases()),
                         [](const auto& param_info) {
                           char name[32];
                           std::snprintf(name, sizeof name, "cw%04X_flags%02X",
                                         param_info.param.host_cw, param_info.param.flags);
                           return std::string(name);
                         });

// ---- every export, every entry state ----------------------------------------

// One load per suite, as a host loads the library once; the load tests
// above need it unloaded, whatever order the suites run in.
using svtest::LoadedPlugin;

// What the calling thread looked like when an export returned.
struct After {
  std::uint16_t cw = 0, sw = 0;
  std::uint32_t mxcsr = 0;
  CallResult result;
};

// Puts the thread into the entry state, makes the one export call, reads the
// state before anything else runs, and puts the thread back.
After measure(const Plugin& plugin, const std::function<void()>& export_call, std::uint16_t cw,
              std::uint16_t flags, std::uint32_t mxcsr) {
  const std::uint16_t home_cw = fpu::cw();
  const std::uint32_t home_mxcsr = fpu::mxcsr();
  After a;
  bool read = false;
  fpu::set_mxcsr(mxcsr);
  fpu::set_x87(cw, flags);
  a.result = plugin.call([&] {
    export_call();
    a.cw = fpu::cw();
    a.sw = fpu::sw();
    a.mxcsr = fpu::mxcsr();
    read = true;
  });
  if (!read) {  // a win32 failure leaves through the structured exception
    a.cw = fpu::cw();
    a.sw = fpu::sw();
    a.mxcsr = fpu::mxcsr();
  }
  fpu::set_x87(home_cw, 0);
  fpu::set_mxcsr(home_mxcsr);
  return a;
}

// The native build has no parameter dialog.
#ifdef _WIN32
constexpr bool kNoDialog = false;
#else
constexpr bool kNoDialog = true;
#endif

// One export call of the operation list, with the condition that makes it
// fail: 0 for a call that succeeds whatever the traps, or the x87 exception
// whose trap makes it fail with `text`.
struct Operation {
  std::string name;
  std::function<void()> call;
  std::uint16_t fails_if_trapped = 0;
  const char* text = nullptr;
  bool always_fails = false;
};

class FpuInvariant : public LoadedPlugin {
 protected:
  void SetUp() override {
    for (int type = 0; type < 4; ++type) {
      running_.push_back(svtest::block_for(plugin(), {0, "127.0.0.1", probe_.port(), 1, type}));
      auto one = inputs({1.0});
      ASSERT_TRUE(running_.back()->start_run(one.data()).ok);
    }
    idle_ = svtest::block_for(plugin(), {0, "127.0.0.1", probe_.port(), 1, 0});
    unresolvable_ = svtest::block_for(plugin(), {0, "no-such-host.invalid", probe_.port(), 1, 0});
    negative_ = svtest::block_for(plugin(), {0, "127.0.0.1", probe_.port(), -1, 0});
    file_ = std::make_unique<ModelFile>(ModelFile::create_temporary());
  }

  void TearDown() override {
    for (auto& b : running_) EXPECT_TRUE(b->end_run().ok);
    probe_.drain(kQuietMs);
    running_.clear();
    EXPECT_TRUE(unresolvable_->end_run().ok);
    idle_.reset();
    unresolvable_.reset();
    negative_.reset();
  }

  std::vector<Operation> operations() {
    const Exports& x = plugin().exports();
    std::vector<Operation> ops;
    auto add = [&](std::string name, std::function<void()> call, std::uint16_t trap = 0,
                   const char* text = nullptr) {
      ops.push_back({std::move(name), std::move(call), trap, text, false});
    };
    add("IsUserDLL32", [x] { x.IsUserDLL32(); });
    add("GetDLLName", [x] { x.GetDLLName(); });
    add("CanSimulateDLL", [x] { x.CanSimulateDLL(7); });
    add("GetParameterStruct", [x, this] { x.GetParameterStruct(scratch_.data()); });
    add("GetDialogEnableStruct", [x, this] { x.GetDialogEnableStruct(scratch_.data(), 0); });
    add("GetNumberOfInputsOutputs2",
        [x, this] { x.GetNumberOfInputsOutputs2(scratch_.data(), 0, idle_->user_data(), 0); });
    add("GetNumberOfInputsOutputs2(null)",
        [x, this] { x.GetNumberOfInputsOutputs2(scratch_.data(), 0, nullptr, 0); });
    add("GetLastFailureDLL",
        [x, this] { x.GetLastFailureDLL(reinterpret_cast<char*>(scratch_.data()), 64); });
    add("InitUserDLL+DisposeUserDLL", [x, this] {
      x.InitUserDLL(fresh_.data());
      x.DisposeUserDLL(fresh_.data());
    });
    add("WriteToFile", [x, this] {
      file_->seek(0);
      x.WriteToFile(file_->handle(), idle_->record());
    });
    add("ReadFromFile", [x, this] {
      file_->seek(0);
      x.ReadFromFile(file_->handle(), idle_->record());
    });
    // Under Wine without a display the dialog ends at once; natively there
    // is none, and the export fails.
    ops.push_back({"CallParameterDialogDLL",
                   [x, this] {
                     std::uint8_t byte = 0;
                     x.CallParameterDialogDLL(idle_->record(), &byte);
                   },
                   0, nullptr, kNoDialog});
    // Every data type: a value that converts under any word, and one that
    // fails where its condition is trapped (NaN for int32 and boolean, an
    // overflow for double and single, a signalling NaN for double).
    const Ext80 huge = ext80_from_hex("7FFE8000000000000000");
    const Ext80 nan = ext80_from_hex("7FFFC000000000000000");
    const Ext80 snan = ext80_from_hex("7FFF8000000000000001");
    struct Bad {
      int type;
      Ext80 value;
      std::uint16_t trap;
      const char* text;
    } bad[] = {{0, huge, fpu::kOverflow, kOverflow},
               {0, snan, fpu::kInvalid, kInvalidOp},
               {1, ext80_from_double(1e39), fpu::kOverflow, kOverflow},
               {2, nan, fpu::kInvalid, kInvalidOp},
               {3, nan, fpu::kInvalid, kInvalidOp}};
    for (int type = 0; type < 4; ++type) {
      Block* b = running_[static_cast<std::size_t>(type)].get();
      auto good = std::make_shared<std::vector<unsigned char>>(inputs({-2.5}));
      add("SimulateDLL2 type " + std::to_string(type),
          [x, b, good] { x.SimulateDLL2(0, 0, 0, 0, 0, 0, b->record(), good->data(), 0); });
    }
    for (const Bad& v : bad) {
      Block* b = running_[static_cast<std::size_t>(v.type)].get();
      auto values = std::make_shared<std::vector<unsigned char>>(inputs({v.value}));
      add(
          "SimulateDLL2 type " + std::to_string(v.type) + " " + ext80_to_hex(v.value),
          [x, b, values] { x.SimulateDLL2(0, 0, 0, 0, 0, 0, b->record(), values->data(), 0); },
          v.trap, v.text);
    }
    add("InitSimulationDLL+EndSimulationDLL2", [x, this] {
      auto one = inputs({1.0});
      x.InitSimulationDLL(idle_->record(), one.data(), 0);
      x.EndSimulationDLL2(idle_->record());
    });
    // Failures that have nothing to do with floating point.
    auto one = std::make_shared<std::vector<unsigned char>>(inputs({1.0}));
    ops.push_back({"InitSimulationDLL to an unresolvable name",
                   [x, this, one] { x.InitSimulationDLL(unresolvable_->record(), one->data(), 0); },
                   0, nullptr, true});
    ops.push_back(
        {"SimulateDLL2 with a negative count",
         [x, this, one] { x.SimulateDLL2(0, 0, 0, 0, 0, 0, negative_->record(), one->data(), 0); },
         0, nullptr, true});
    return ops;
  }

  // Runs every operation from the entry state and checks what it left.
  void check_all(std::uint16_t cw, std::uint16_t flags, std::uint32_t mxcsr) {
    // A section for ReadFromFile to read back.
    file_->seek(0);
    ASSERT_TRUE(idle_->write_section(*file_).ok);
    for (const Operation& op : operations()) {
      SCOPED_TRACE(op.name);
      const After a = measure(plugin(), op.call, cw, flags, mxcsr);
      const bool trapped = op.fails_if_trapped && (op.fails_if_trapped & ~cw);
      if (op.always_fails) {
        EXPECT_FALSE(a.result.ok);
      } else if (trapped) {
        EXPECT_FALSE(a.result.ok);
        EXPECT_EQ(a.result.failure, op.text);
      } else {
        EXPECT_TRUE(a.result.ok) << a.result.failure;
      }
      EXPECT_EQ(a.result.failure.rfind("structured exception", 0), std::string::npos)
          << "a hardware fault: " << a.result.failure;
      EXPECT_EQ(fpu::pending(a.cw, a.sw), 0) << std::hex << "status 0x" << a.sw;
      EXPECT_EQ(a.cw & ~fpu::kReserved, cw & ~fpu::kReserved) << std::hex << "0x" << a.cw;
      const std::uint16_t kept = flags & cw & fpu::kAll;
      EXPECT_EQ(a.sw & kept, kept) << std::hex << "status 0x" << a.sw;
      EXPECT_EQ(a.mxcsr, mxcsr) << std::hex << "MXCSR 0x" << a.mxcsr;
    }
  }

  UdpProbe probe_;
  std::vector<std::unique_ptr<Block>> running_;
  std::unique_ptr<Block> idle_, unresolvable_, negative_;
  std::unique_ptr<ModelFile> file_;
  std::vector<unsigned char> scratch_ = std::vector<unsigned char>(kInputsOutputsSize, 0);
  std::vector<unsigned char> fresh_ = std::vector<unsigned char>(kBlockRecordSize, 0);
};

// The start-up's word, the unit's default with all exceptions masked, and
// the two platforms' defaults; each with invalid, zero divide and overflow
// unmasked one at a time.
constexpr std::uint16_t kEntryWords[] = {0x1332, 0x137F, 0x137E, 0x137B, 0x1377,
                                         0x027F, 0x027E, 0x027B, 0x0277};
constexpr std::uint16_t kEntryFlags[] = {
    0, fpu::kInvalid, fpu::kZeroDivide, fpu::kOverflow, fpu::kDenormal, fpu::kPrecision, fpu::kAll};

TEST_F(FpuInvariant, EveryExportUnderEveryControlWordAndStickyFlag) {
  for (std::uint16_t cw : kEntryWords)
    for (std::uint16_t flags : kEntryFlags) {
      SCOPED_TRACE(::testing::Message()
                   << std::hex << "entry control word 0x" << cw << ", flags 0x" << flags);
      check_all(cw, flags, fpu::mxcsr());
    }
}

// The library's own arithmetic never raises an SSE exception: with every one
// unmasked nothing traps, and MXCSR comes back as it went in.
TEST_F(FpuInvariant, NoExportTrapsWithEverySseExceptionUnmasked) {
  for (std::uint16_t cw : {std::uint16_t{0x1332}, std::uint16_t{0x027F}}) {
    SCOPED_TRACE(::testing::Message() << std::hex << "entry control word 0x" << cw);
    check_all(cw, 0, fpu::kMxcsrAllUnmasked);
  }
}

// ---- a second host thread -----------------------------------------------------

// A host that loads on one thread and steps from another: each call follows
// its own thread's control word, and neither thread is harmed.
class FpuThreads : public LoadedPlugin {};

TEST_F(FpuThreads, EachThreadGetsItsOwnControlWordBehaviour) {
  UdpProbe probe;
  auto block = svtest::block_for(plugin(), {0, "127.0.0.1", probe.port(), 1, 2});
  const std::uint16_t home_cw = fpu::cw();
  fpu::set_x87(0x1332, 0);
  auto one = inputs({1.0});
  auto nan = inputs({ext80_from_hex("7FFFC000000000000000")});
  ASSERT_TRUE(block->start_run(one.data()).ok);
  ASSERT_TRUE(probe.receive().has_value());

  CallResult other;
  std::uint16_t other_cw = 0, other_sw = 0, other_default = 0;
  std::int32_t other_last = -1;
  std::thread t([&] {
    // A new thread starts with every exception masked on Windows; natively
    // it would inherit the creating thread's word, so it is set here.
    fpu::set_x87(0x027F, 0);
    other_default = fpu::cw();
    other = block->step(nan.data());
    other_cw = fpu::cw();
    other_sw = fpu::sw();
    other_last = plugin().last_failure(nullptr, 0);
  });
  t.join();
  EXPECT_TRUE(other.ok) << other.failure;  // invalid is masked there
  EXPECT_EQ(other_last, 0);
  EXPECT_EQ(other_cw, other_default);
  EXPECT_EQ(fpu::pending(other_cw, other_sw), 0);
  auto frame = probe.receive();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(*frame, (std::vector<std::uint8_t>{0, 0, 0, 0}));  // the unit's default result

  // The loading thread still traps, and its record is its own.
  CallResult here = block->step(nan.data());
  EXPECT_FALSE(here.ok);
  EXPECT_EQ(here.failure, kInvalidOp);
  EXPECT_EQ(fpu::pending(fpu::cw(), fpu::sw()), 0);
  EXPECT_TRUE(block->end_run().ok);
  EXPECT_TRUE(block->dispose().ok);
  fpu::set_x87(home_cw, 0);
}

}  // namespace
}  // namespace svhost
