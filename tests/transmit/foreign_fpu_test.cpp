// Code that is not the library's own, run inside an export call: the
// socket library's start and stop and the name lookup load and unload the
// system's providers, and the dialog may load an input method; some of
// those load a control word of their own. Here the socket table's start,
// stop and lookup, and a step inside the dialog's modal loop, execute
// fninit (control word 0x037F, every flag cleared) inside the call; the
// caller must find its own word and flags when the export returns, and the
// run start's first frame must still be converted under the caller's word.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/user_data.h"
#include "plugin/block_record.h"
#include "plugin/startup.h"
#include "system/udp_probe.h"
#include "tests/common/failure.h"
#include "tests/common/fake_net.h"
#include "tests/common/fpu.h"
#include "tests/common/headless.h"
#include "tests/common/texts.h"
#include "transmit/socket_layer.h"
#include "udpsv_exports.h"

namespace {

namespace fpu = svtest::fpu;
using sv::net::LookupResult;
using sv::net::LookupStatus;
using svtest::kHostNotFound;
using svtest::kInvalidOp;

const unsigned char kOne[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
const unsigned char kQuietNan[10] = {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};

void reset_word() { asm volatile("fninit"); }

// The state an export left: read straight after it returned.
struct After {
  std::uint16_t cw, sw;
  std::string failure;
};

class ForeignControlWord : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sv::socket_layer::platform_started()) << "a sender outlived its test";
    net_.inside = reset_word;
    net_.lookup_answer = LookupResult{LookupStatus::Ok, {{127, 0, 0, 1}}, 0};
    record_.assign(8192, 0);
    InitUserDLL(record_.data());
    data_ = sv::block_record::user_data(record_.data());
    data_->Port = probe_.port();
  }
  void TearDown() override {
    EndSimulationDLL2(record_.data());
    DisposeUserDLL(record_.data());
  }

  // Puts the thread into the caller's state, makes the call, reads the
  // state before anything else runs, and puts the thread back.
  template <class Call>
  After call_as(std::uint16_t cw, std::uint16_t flags, Call&& call) {
    const std::uint16_t home = fpu::cw();
    fpu::set_x87(cw, flags);
    call();
    After a{fpu::cw(), fpu::sw(), {}};
    fpu::set_x87(home, 0);
    a.failure = svtest::last_failure();
    return a;
  }

  void expect_callers_state(const After& a, std::uint16_t cw, std::uint16_t flags) {
    EXPECT_EQ(a.cw & ~fpu::kReserved, cw & ~fpu::kReserved)
        << std::hex << "control word 0x" << a.cw << ", the caller's 0x" << cw;
    EXPECT_EQ(a.sw & flags, flags)
        << std::hex << "status 0x" << a.sw << ": the caller's flags 0x" << flags << " are gone";
    EXPECT_EQ(fpu::pending(a.cw, a.sw), 0)
        << std::hex << "status 0x" << a.sw << " under 0x" << a.cw;
  }

  svtest::FakeNet net_;
  svhost::UdpProbe probe_;
  std::vector<unsigned char> record_;
  sv::TUserData* data_ = nullptr;
};

// 0x1332, the start-up's word, traps invalid operations: a NaN under int32
// fails the run start, also when the socket library's start loaded 0x037F
// just before the first frame.
TEST_F(ForeignControlWord, RunStartConvertsUnderTheCallersWordAfterTheSocketStart) {
  data_->DataType = 2;
  const std::uint16_t cw = 0x1332, flags = fpu::kPrecision | fpu::kUnderflow;
  const After a = call_as(cw, flags, [&] { InitSimulationDLL(record_.data(), kQuietNan, 0); });
  EXPECT_EQ(a.failure, kInvalidOp) << "the NaN was converted under another word than the caller's";
  expect_callers_state(a, cw, flags);

  // Nothing was sent for the NaN: the first datagram is the next step's.
  const After b = call_as(cw, 0, [&] { SimulateDLL2(0, 0, 0, 0, 0, 0, record_.data(), kOne, 0); });
  EXPECT_EQ(b.failure, "");
  auto got = probe_.receive(10000);
  ASSERT_TRUE(got) << "no frame arrived";
  EXPECT_EQ(*got, std::vector<std::uint8_t>({1, 0, 0, 0})) << "a frame was sent for the NaN";
}

TEST_F(ForeignControlWord, ALookupLeavesTheCallersWordAndFlags) {
  data_->IPAddress = u"receiver.test";  // a name: looked up at every step
  // A host that masks everything (the system's default word) and carries
  // flags from its own work; fninit would clear them and leave 0x037F.
  const std::uint16_t cw = 0x027F,
                      flags = fpu::kPrecision | fpu::kOverflow | fpu::kInvalid | fpu::kDenormal;
  After a = call_as(cw, flags, [&] { InitSimulationDLL(record_.data(), kOne, 0); });
  EXPECT_EQ(a.failure, "");
  expect_callers_state(a, cw, flags);
  ASSERT_TRUE(probe_.receive(10000)) << "the run start's frame did not arrive";

  a = call_as(cw, flags, [&] { SimulateDLL2(0, 0, 0, 0, 0, 0, record_.data(), kOne, 0); });
  EXPECT_EQ(a.failure, "");
  expect_callers_state(a, cw, flags);
  ASSERT_TRUE(probe_.receive(10000)) << "the step's frame did not arrive";

  // A lookup that fails, under the start-up's word: put back before the
  // failure is handed on.
  net_.lookup_answer = LookupResult{LookupStatus::SocketError, {}, 11001};
  a = call_as(0x1332, fpu::kPrecision,
              [&] { SimulateDLL2(0, 0, 0, 0, 0, 0, record_.data(), kOne, 0); });
  EXPECT_EQ(a.failure, kHostNotFound);
  expect_callers_state(a, 0x1332, fpu::kPrecision);

  // The run end frees the last sender, and with it stops the socket library.
  a = call_as(cw, flags, [&] { EndSimulationDLL2(record_.data()); });
  EXPECT_EQ(a.failure, "");
  expect_callers_state(a, cw, flags);
  EXPECT_FALSE(sv::socket_layer::platform_started());
}

// A host that unloads with a run it never ended: the unload ends the run
// and stops the socket library where no export's exit puts the word back
// (under the loader lock, on the host's thread), so the stop does.
TEST_F(ForeignControlWord, AnUnloadThatEndsAForgottenRunLeavesTheCallersWord) {
  sv::library_startup();
  EXPECT_EQ(call_as(0x027F, 0, [&] { InitSimulationDLL(record_.data(), kOne, 0); }).failure, "");
  const std::uint16_t cw = 0x027F, flags = fpu::kPrecision | fpu::kOverflow;
  const After a = call_as(cw, flags, [] { sv::library_shutdown(); });
  expect_callers_state(a, cw, flags);
  EXPECT_FALSE(sv::socket_layer::platform_started());
  InitUserDLL(record_.data());  // the unload freed the fixture's block
}

TEST_F(ForeignControlWord, AnInputMethodInTheDialogLeavesTheCallersWordAndFlags) {
  std::uint8_t byte = 0xEE;
  sv::ui::headless::set_script({[](sv::ui::headless::Form& d) {
    reset_word();
    d.press_enter();
  }});
  const std::uint16_t cw = 0x1332, flags = fpu::kPrecision | fpu::kDenormal;
  const After a = call_as(cw, flags, [&] { CallParameterDialogDLL(record_.data(), &byte); });
  sv::ui::headless::reset();
  EXPECT_EQ(a.failure, "");
  EXPECT_EQ(byte, 1);
  expect_callers_state(a, cw, flags);
}

}  // namespace
