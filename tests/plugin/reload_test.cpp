// A host that loads and unloads the library again and again, and forgets a
// run end or a dispose now and then: after each unload nothing of the
// library may be left in the process. One source for both builds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "host/block.h"
#include "host/plugin.h"
#include "host/signals.h"
#include "system/dynlib.h"
#include "system/model_file.h"
#include "system/resources.h"
#include "tests/common/texts.h"

namespace svhost {
namespace {

// A section for a block of no inputs: each step resolves its address and
// opens the socket but puts nothing on the wire, so the test needs no
// receiver (and no socket library of its own, which would stay loaded).
const char kSection[] = "10067\r\n127.0.0.1\r\n9\r\n0\r\n0\r\n";
// Read first, and failing at its third line: every cycle carries a failure,
// a C++ exception thrown and caught inside the library and handed on.
const char kBadSection[] = "10067\r\n127.0.0.1\r\nabc\r\n";

// The TLS indices the process has free. A library that loses one per load
// shows no handle: a process has about a thousand, and a thousand cycles
// end just before the last is gone and the C++ runtime aborts the host.
// Natively thread_local takes none.
unsigned tls_indices_free() {
#ifdef _WIN32
  std::vector<DWORD> taken;
  for (DWORD i; (i = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(i);
  for (DWORD i : taken) TlsFree(i);
  return static_cast<unsigned>(taken.size());
#else
  return 0;
#endif
}

// One host session: load, a block, a run of a few steps, unload. Every
// `forget_end`-th cycle ends no run, every `forget_dispose`-th disposes no
// block.
void cycle(int i, int forget_end, int forget_dispose) {
  auto plugin = Plugin::load(SV_TEST_PLUGIN_PATH);
  const Exports& x = plugin->exports();
  std::vector<unsigned char> record(kBlockRecordSize, 0);
  std::vector<unsigned char> values(kMaxInputValues * kExt80Size, 0);
  auto ok = [&](const char* what, const CallResult& r) {
    ASSERT_TRUE(r.ok) << "cycle " << i << ", " << what << ": " << r.failure;
  };
  ok("InitUserDLL", plugin->call([&] { x.InitUserDLL(record.data()); }));
  ModelFile file = ModelFile::create_temporary();
  file.write(kBadSection, sizeof kBadSection - 1);
  file.write(kSection, sizeof kSection - 1);
  file.seek(0);
  const CallResult bad = plugin->call([&] { x.ReadFromFile(file.handle(), record.data()); });
  ASSERT_FALSE(bad.ok) << "cycle " << i << ": a bad section was read without failure";
  ASSERT_EQ(bad.failure, svtest::not_an_integer("abc")) << "cycle " << i;
  ok("ReadFromFile", plugin->call([&] { x.ReadFromFile(file.handle(), record.data()); }));
  ok("InitSimulationDLL",
     plugin->call([&] { x.InitSimulationDLL(record.data(), values.data(), 0); }));
  for (int k = 0; k < 3; ++k)
    ok("SimulateDLL2",
       plugin->call([&] { x.SimulateDLL2(0, 0, 0, 0, 0, 0, record.data(), values.data(), 0); }));
  if (i % forget_end != 0)
    ok("EndSimulationDLL2", plugin->call([&] { x.EndSimulationDLL2(record.data()); }));
  if (i % forget_dispose != 0)
    ok("DisposeUserDLL", plugin->call([&] { x.DisposeUserDLL(record.data()); }));
}

TEST(Reload, AThousandLoadsLeaveNothingBehind) {
  ASSERT_FALSE(dynlib::is_loaded(SV_TEST_PLUGIN_PATH));
  ASSERT_FALSE(dynlib::is_loaded("ws2_32.dll")) << "the test program must not use sockets itself";
  [[maybe_unused]] std::string error;
#ifdef SV_TEST_SHARED_LIBGCC
  // A host with the toolchain's shared libgcc in its process, as any block
  // or tool built with it brings it: the library's failures must stay its
  // own, load after load. (It keeps itself loaded once loaded.)
  ASSERT_NE(dynlib::open(SV_TEST_SHARED_LIBGCC, &error), nullptr) << error;
#endif
#ifdef _WIN32
  // A host is a windowed program and holds the common controls, so the
  // library's loads do not load and unload them each time (Wine 10's lose
  // 1.5 MB at every unload of their own).
  ASSERT_NE(dynlib::open("comctl32.dll", &error), nullptr) << error;
#endif
  const ProcessResources before = process_resources();
  const unsigned tls_before = tls_indices_free();
  ProcessResources warm;
  unsigned tls_warm = 0;
  // Under the verifier (plugin/win32/verifier.py) a hundred cycles show each
  // of its findings; Wine's call trace there keeps a table for every module
  // a cycle loads, so the memory figure would be the trace's.
  const bool verified = std::getenv("SV_VERIFIER") != nullptr;
  const int cycles = verified ? 100 : 1000;
  for (int i = 1; i <= cycles; ++i) {
    cycle(i, 5, 7);
    if (HasFatalFailure()) return;
    // The first loads fill the system's own caches (the registry's handles,
    // the loader's lists); from then on every figure must stay flat.
    if (i == 20) {
      warm = process_resources();
      tls_warm = tls_indices_free();
    }
  }
  const ProcessResources after = process_resources();
  const unsigned tls_after = tls_indices_free();
  std::printf("handles: %llu before, %llu after 20 cycles, %llu after %d\n",
              static_cast<unsigned long long>(before.handles),
              static_cast<unsigned long long>(warm.handles),
              static_cast<unsigned long long>(after.handles), cycles);
  std::printf("private memory: %llu kB before, %llu kB after 20 cycles, %llu kB after %d\n",
              static_cast<unsigned long long>(before.private_kb),
              static_cast<unsigned long long>(warm.private_kb),
              static_cast<unsigned long long>(after.private_kb), cycles);
  std::printf("TLS indices free: %u before, %u after 20 cycles, %u after %d\n", tls_before,
              tls_warm, tls_after, cycles);
  EXPECT_FALSE(dynlib::is_loaded(SV_TEST_PLUGIN_PATH));
  EXPECT_FALSE(dynlib::is_loaded("ws2_32.dll"));
  EXPECT_EQ(after.handles, warm.handles);
  EXPECT_EQ(tls_after, tls_warm);
  // A leak of even one record or socket per cycle would show as 980 of
  // them; the allowance is for the allocator's own bookkeeping. (Under
  // AddressSanitizer freed memory stays in quarantine, and its leak check
  // takes the place of this one.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define SV_RESIDENT_MEMORY_MEANS_LEAKS 1
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define SV_RESIDENT_MEMORY_MEANS_LEAKS 1
#endif
#endif
#ifdef SV_RESIDENT_MEMORY_MEANS_LEAKS
  if (!verified) {
    EXPECT_LE(after.private_kb, warm.private_kb + 256);
  }
#endif
}

}  // namespace
}  // namespace svhost
