// The real DLL in a real process: loaded with LoadLibrary, called through
// stdcall pointers, failing with structured exceptions, sending over Winsock
// and writing through _lwrite.
#include "host/plugin.h"

#include <winsock2.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/x87.h"
#include "host/block.h"
#include "system/model_file.h"
#include "system/udp_probe.h"
#include "tests/common/ext80.h"
#include "tests/common/plugin.h"
#include "tests/common/texts.h"

namespace {

using svhost::Block;
using svhost::CallResult;
using svhost::Plugin;
using svtest::bytes;
using svtest::ext;
using Bytes = std::vector<unsigned char>;

constexpr std::uint16_t kControlWordReserved = 0x40;

class Win32Plugin : public svtest::LoadedPlugin {
 protected:
  static void SetUpTestSuite() {
    LoadedPlugin::SetUpTestSuite();
    // Start-up ran in DllMain on this very thread.
    control_word_after_load_ = sv::x87::control_word();
  }
  void TearDown() override { sv::x87::load(sv::x87::kStartupControlWord, 0); }

  static std::unique_ptr<Block> block_for(std::string address, std::uint16_t port, int inputs,
                                          int type) {
    return svtest::block_for(plugin(), {10067, std::move(address), port, inputs, type});
  }

  // One run of a single step: returns the first frame (from InitSimulationDLL)
  // and the step's frame.
  static std::pair<Bytes, Bytes> run(int type, std::initializer_list<svtest::Ext80> first,
                                     std::initializer_list<svtest::Ext80> step) {
    svhost::UdpProbe probe;
    auto b = block_for("127.0.0.1", probe.port(), static_cast<int>(first.size()), type);
    Bytes a = svtest::inputs(first), s = svtest::inputs(step);
    CallResult r = b->start_run(a.data());
    EXPECT_TRUE(r.ok) << r.failure;
    r = b->step(s.data());
    EXPECT_TRUE(r.ok) << r.failure;
    EXPECT_TRUE(b->end_run().ok);
    auto f1 = probe.receive(), f2 = probe.receive();
    EXPECT_TRUE(f1 && f2);
    return {f1.value_or(Bytes{}), f2.value_or(Bytes{})};
  }

  static inline std::uint16_t control_word_after_load_ = 0;
};

TEST_F(Win32Plugin, LoadingSwitchesTheLoadingThreadsTrapsOn) {
  EXPECT_EQ(control_word_after_load_ & ~kControlWordReserved, 0x1332);
}

TEST_F(Win32Plugin, NewBlockWritesTheThirtyByteSectionWithTheResourceVersion) {
  Block b(plugin());
  ASSERT_TRUE(b.init().ok);
  // A real file and real _lwrite calls: create, let the plug-in write, read back.
  svhost::ModelFile file = svhost::ModelFile::create_temporary();
  file.write("head", 4);
  CallResult r = b.write_section(file);
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(file.tell(), 34);
  file.seek(4);
  EXPECT_EQ(file.read_rest(), std::string("10067\r\n127.0.0.1\r\n1600\r\n1\r\n0\r\n"));
}

TEST_F(Win32Plugin, SectionReadBackThroughLreadLeavesThePositionAfterTheLastLine) {
  Block b(plugin());
  ASSERT_TRUE(b.init().ok);
  svhost::ModelFile file = svhost::ModelFile::create_temporary();
  file.write(std::string("7\r\nrecv.example\r\n-5\r\n50\r\n3\r\ntail"));
  file.seek(0);
  ASSERT_TRUE(b.read_section(file).ok);
  EXPECT_EQ(file.read_rest(), "tail");
  std::string saved;
  ASSERT_TRUE(b.save_section(&saved).ok);
  EXPECT_EQ(saved, "10067\r\nrecv.example\r\n-5\r\n50\r\n3\r\n");
}

TEST_F(Win32Plugin, FramesOfEveryTypeAreByteExactOnTheWire) {
  auto [d1, d2] = run(0, {ext(1.0), ext(-2.5)}, {ext(0.1), ext(-0.0)});
  EXPECT_EQ(d1, bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
  EXPECT_EQ(d2, bytes({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0x80}));

  // 1 + 2^-24 + 2^-60 rounds to single once, from 80 bits: up. By way of
  // double it would tie and round down to 1.0.
  auto [s1, s2] = run(1, {ext(1.0)}, {ext(0x8000008000000008ULL, 0x3FFF)});
  EXPECT_EQ(s1, bytes({0, 0, 0x80, 0x3F}));
  EXPECT_EQ(s2, bytes({1, 0, 0x80, 0x3F}));

  auto [i1, i2] =
      run(2, {ext(1.0), ext(-2.5), ext(3.5)}, {ext(0.5), ext(2147483648.0), ext(4294967296.0)});
  EXPECT_EQ(i1, bytes({1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}));
  EXPECT_EQ(i2, bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0}));

  auto [b1, b2] = run(3, {ext(0.5), ext(0.0), ext(-0.0), ext(-1.0)},
                      {svtest::infinity(), svtest::infinity(true), ext(1e-300), ext(-1e-300)});
  EXPECT_EQ(b1, bytes({1, 0, 0, 0}));
  EXPECT_EQ(b2, bytes({1, 0, 1, 0}));
}

TEST_F(Win32Plugin, FiftyDoublesMakeOneFourHundredByteDatagram) {
  svhost::UdpProbe probe;
  auto b = block_for("LocalHost", probe.port(), 50, 0);
  std::vector<svtest::Ext80> values;
  for (int i = 1; i <= 50; ++i) values.push_back(ext(static_cast<double>(i)));
  const Bytes a = svtest::inputs(values);
  ASSERT_TRUE(b->start_run(a.data()).ok);
  ASSERT_TRUE(b->end_run().ok);
  auto frame = probe.receive();
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 400u);
  EXPECT_EQ(Bytes(frame->begin() + 392, frame->end()), bytes({0, 0, 0, 0, 0, 0, 0x49, 0x40}));
}

// With the start-up's control word the unit traps: the step fails with a
// structured exception whose text the guard reads at the address it carries,
// and nothing is sent.
TEST_F(Win32Plugin, TrappedConversionsFailTheStepWithTheRuntimeText) {
  svhost::UdpProbe probe;
  struct Case {
    int type;
    svtest::Ext80 value;
    const char* text;
  } cases[] = {
      {2, svtest::quiet_nan(), svtest::kInvalidOp},
      {2, svtest::infinity(), svtest::kInvalidOp},
      {3, svtest::quiet_nan(), svtest::kInvalidOp},
      {0, svtest::signalling_nan(), svtest::kInvalidOp},
      {1, ext(1e39), svtest::kOverflow},
      {0, ext(0x8000000000000000ULL, 0x7FFE), svtest::kOverflow},
  };
  ASSERT_EQ(GetACP(), static_cast<UINT>(svtest::code_page()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto b = block_for("127.0.0.1", probe.port(), 1, c.type);
    Bytes ok = svtest::inputs({1.0}), bad = svtest::inputs({c.value});
    ASSERT_TRUE(b->start_run(ok.data()).ok);
    CallResult r = b->step(bad.data());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, svtest::as_host_gets(c.text));
    // The exception's text and the recorded one agree, in the ANSI code page.
    char raw[128];
    std::int32_t n = plugin().last_failure(raw, sizeof raw);
    EXPECT_EQ(svhost::failure_text_to_utf8(std::string(raw, n > 0 ? n : 0)), r.failure);
    // The unit still traps afterwards, with nothing left pending.
    EXPECT_EQ(sv::x87::control_word() & ~kControlWordReserved, 0x1332);
    EXPECT_EQ(sv::x87::pending(sv::x87::control_word(), sv::x87::status_word()), 0);
    EXPECT_TRUE(b->end_run().ok);
    EXPECT_EQ(probe.drain(svhost::kQuietMs), 1u);  // the first frame only
  }
}

TEST_F(Win32Plugin, MaskedTrapsSendTheUnitsDefaultResults) {
  svhost::UdpProbe probe;
  sv::x87::load(sv::x87::kStartupControlWord | sv::x87::kAllExceptions, 0);
  struct Case {
    int type;
    svtest::Ext80 value;
    Bytes wire;
  } cases[] = {
      {0, ext(0x8000000000000000ULL, 0x7FFE), bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x7F})},
      {0, ext(0x8000000000000000ULL, 0xFFFE), bytes({0, 0, 0, 0, 0, 0, 0xF0, 0xFF})},
      {1, ext(1e39), bytes({0, 0, 0x80, 0x7F})},
      {0, svtest::signalling_nan(), bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x7F})},
      {2, svtest::quiet_nan(), bytes({0, 0, 0, 0})},
      {2, svtest::infinity(true), bytes({0, 0, 0, 0})},
      {3, svtest::quiet_nan(), bytes({0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto b = block_for("127.0.0.1", probe.port(), 1, c.type);
    Bytes in = svtest::inputs({c.value});
    CallResult r = b->start_run(in.data());
    EXPECT_TRUE(r.ok) << r.failure;
    EXPECT_TRUE(b->end_run().ok);
    auto frame = probe.receive();
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, c.wire);
  }
  // The block neither sets nor restores the caller's settings.
  EXPECT_EQ(sv::x87::control_word() & ~kControlWordReserved,
            sv::x87::kStartupControlWord | sv::x87::kAllExceptions);
}

TEST_F(Win32Plugin, MissingHostFailsTheRunStartWithHostNotFound) {
  const std::string text = svtest::kHostNotFound;
  auto b = block_for("no-such-host.invalid", 9, 1, 0);
  Bytes in = svtest::inputs({1.0});
  CallResult r = b->start_run(in.data());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, text);
  r = b->step(in.data());
  EXPECT_EQ(r.failure, text);
  // The failure is the thread's latest; the next successful call clears it.
  EXPECT_EQ(plugin().last_failure(nullptr, 0), static_cast<std::int32_t>(text.size()));
  EXPECT_TRUE(b->end_run().ok);
  EXPECT_EQ(plugin().last_failure(nullptr, 0), 0);
}

// Every thread of the host passes the DLL's thread detach, also one that
// never called it; for that one the DLL makes nothing (the verifier sees an
// allocation there), and the library goes on working.
DWORD WINAPI returns_seven(LPVOID) { return 7; }

TEST_F(Win32Plugin, AThreadThatNeverCalledTheLibraryEnds) {
  HANDLE thread = CreateThread(nullptr, 0, returns_seven, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 7u);
  Block b(plugin());
  EXPECT_TRUE(b.init().ok);
}

TEST_F(Win32Plugin, ExportsAreUndecoratedAndDescribeTheBlock) {
  HMODULE dll = GetModuleHandleW(L"UDPSV2Simulink.dll");
  ASSERT_NE(dll, nullptr);
  EXPECT_NE(GetProcAddress(dll, "SimulateDLL2"), nullptr);
  EXPECT_EQ(GetProcAddress(dll, "SimulateDLL2@36"), nullptr);
  EXPECT_EQ(GetProcAddress(dll, "_SimulateDLL2@36"), nullptr);
  std::string name;
  const char* a1 = nullptr;
  const char* a2 = nullptr;
  ASSERT_TRUE(plugin().dll_name(&name, &a1).ok);
  ASSERT_TRUE(plugin().dll_name(&name, &a2).ok);
  EXPECT_EQ(name, "UDP Sorvane2Simulink");
  EXPECT_EQ(a1, a2);
}

}  // namespace
