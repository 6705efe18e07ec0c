// The DLL in a process that also holds the toolchain's shared runtime, as a
// host does once any block or tool built with MinGW's shared libgcc is in
// it. Every failure must still reach the host as the structured exception
// with its text, and the process must live. Each order of loading runs in a
// process of its own (CMakeLists.txt runs one test per filter): what one
// order leaves behind must not help or hurt the next.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/plugin.h"
#include "system/udp_probe.h"
#include "system/win32/text.h"
#include "tests/common/ext80.h"
#include "tests/common/texts.h"
#include "tests/support/store_fixture.h"

#ifndef SV_TEST_SHARED_RUNTIME_DIR
#error "SV_TEST_SHARED_RUNTIME_DIR must name the folder with the toolchain's runtime DLLs"
#endif

namespace svhost {
namespace {

const char kLibgcc[] = "libgcc_s_dw2-1.dll";
const char kLibstdcxx[] = "libstdc++-6.dll";

using svtest::inputs;
using svtest::kHostNotFound;
using svtest::kInvalidOp;

bool loaded(const char* name) { return GetModuleHandleA(name) != nullptr; }

// A DLL of the toolchain's runtime folder as a full path of this system, so
// that LOAD_WITH_ALTERED_SEARCH_PATH finds its neighbours there.
std::wstring runtime_path(const char* name) {
  std::wstring path = win32::wide(std::string(SV_TEST_SHARED_RUNTIME_DIR) + "/" + name);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH ? std::wstring(full, n) : path;
}

// One of the runtime DLLs, loaded from the toolchain's copy as a host that
// uses it would have it; unloaded with the object.
class RuntimeModule {
 public:
  explicit RuntimeModule(const char* name) {
    const std::wstring path = runtime_path(name);
    // The folder of the DLL first, so libstdc++ finds its libgcc there.
    module_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    EXPECT_NE(module_, nullptr) << win32::utf8(path) << ": "
                                << win32::system_reason(GetLastError());
  }
  ~RuntimeModule() { unload(); }
  RuntimeModule(const RuntimeModule&) = delete;
  RuntimeModule& operator=(const RuntimeModule&) = delete;
  void unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

// Says in the test's output which call is under way: if the process ends
// inside the library, the last line names the call it died in.
void stage(const char* what) {
  std::printf("shared runtime: %s\n", what);
  std::fflush(stdout);
}

// Each of the library's failure paths that a host meets in use: every one a
// C++ exception inside the DLL, caught at its boundary and raised to the
// host. Then a call that succeeds, so the library is known to be usable.
void expect_failures_arrive(const Plugin& plugin) {
  Block block(plugin);
  ASSERT_TRUE(block.init().ok);

  stage("ReadFromFile of a section with a port that is no integer");
  CallResult r = block.load_section("10067\r\n127.0.0.1\r\nabc\r\n1\r\n0\r\n");
  EXPECT_FALSE(r.ok) << "a bad section was read without failure";
  EXPECT_EQ(r.failure, svtest::not_an_integer("abc"));

  stage("InitSimulationDLL to a name that does not resolve");
  ASSERT_TRUE(configure(block, {0, "no-such-host.invalid", 9, 1, 0}).ok);
  const auto one = inputs({1.0});
  r = block.start_run(one.data());
  EXPECT_FALSE(r.ok) << "the run start to an unresolvable name succeeded";
  EXPECT_EQ(r.failure, kHostNotFound);
  stage("SimulateDLL2 to a name that does not resolve");
  r = block.step(one.data());
  EXPECT_FALSE(r.ok) << "the step to an unresolvable name succeeded";
  EXPECT_EQ(r.failure, kHostNotFound);
  EXPECT_TRUE(block.end_run().ok);

  stage("InitSimulationDLL with a NaN under int32");
  UdpProbe probe;
  ASSERT_TRUE(configure(block, {0, "127.0.0.1", probe.port(), 1, 2}).ok);
  const auto nan = inputs({svtest::quiet_nan()});
  r = block.start_run(nan.data());
  EXPECT_FALSE(r.ok) << "a NaN under int32 was sent";
  EXPECT_EQ(r.failure, kInvalidOp);
  stage("SimulateDLL2 with a NaN under int32");
  r = block.step(nan.data());
  EXPECT_EQ(r.failure, kInvalidOp);

  stage("SimulateDLL2 with 1.0 after the failures");
  r = block.step(one.data());
  EXPECT_TRUE(r.ok) << r.failure;
  const auto frame = probe.receive(10000);
  ASSERT_TRUE(frame) << "no frame arrived after the failures";
  EXPECT_EQ(*frame, std::vector<std::uint8_t>({1, 0, 0, 0}));
  EXPECT_TRUE(block.end_run().ok);
  stage("done");
}

TEST(SharedRuntime, LibgccLoadedFirst) {
  ASSERT_FALSE(loaded(kLibgcc));
  RuntimeModule libgcc(kLibgcc);
  auto plugin = Plugin::load(default_plugin_path());
  expect_failures_arrive(*plugin);
}

TEST(SharedRuntime, LibstdcxxAndItsLibgccLoadedFirst) {
  ASSERT_FALSE(loaded(kLibgcc));
  RuntimeModule libstdcxx(kLibstdcxx);
  ASSERT_TRUE(loaded(kLibgcc)) << kLibstdcxx << " came without " << kLibgcc;
  auto plugin = Plugin::load(default_plugin_path());
  expect_failures_arrive(*plugin);
}

TEST(SharedRuntime, LibgccLoadedAfterTheDll) {
  ASSERT_FALSE(loaded(kLibgcc));
  auto plugin = Plugin::load(default_plugin_path());
  RuntimeModule libgcc(kLibgcc);
  expect_failures_arrive(*plugin);
}

// The host lets go of its libgcc while the DLL stays. (The shared libgcc
// keeps itself loaded: its own start-up object takes a reference on it.)
TEST(SharedRuntime, LibgccUnloadedBeforeTheDll) {
  ASSERT_FALSE(loaded(kLibgcc));
  RuntimeModule libgcc(kLibgcc);
  auto plugin = Plugin::load(default_plugin_path());
  libgcc.unload();
  expect_failures_arrive(*plugin);
}

// The start-up failure, a C++ exception inside the DLL's load hook: the load
// is refused and the process goes on. The load runs in a child process, so
// that the settings of the wrong type are put right again even when the load
// ends the process.
TEST(SharedRuntime, FailedStartUpRefusesTheLoad) {
  auto broken = std::make_unique<sv::test::ScopedStore>();
  broken->set_dword(u"Tooltip Help", 1);  // a number where the settings hold a text

  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(exe) +
                         L"\" --gtest_color=no --gtest_also_run_disabled_tests"
                         L" --gtest_filter=SharedRuntimeChild.DISABLED_LoadOverBrokenSettings";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &child);
  DWORD waited = WAIT_FAILED, status = 0;
  if (started) {
    waited = WaitForSingleObject(child.hProcess, 120000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  broken.reset();
  ASSERT_TRUE(started) << win32::system_reason(GetLastError());
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the child did not end within 120 s";
  EXPECT_EQ(status, 0u) << "the child's load ended with status " << status
                        << " (3: std::terminate inside the DLL)";

  stage("LoadLibrary with sound settings");
  RuntimeModule libgcc(kLibgcc);
  auto plugin = Plugin::load(default_plugin_path());
  expect_failures_arrive(*plugin);
}

// Run by the test above only.
TEST(SharedRuntimeChild, DISABLED_LoadOverBrokenSettings) {
  RuntimeModule libgcc(kLibgcc);
  stage("LoadLibrary with settings of the wrong type");
  SetLastError(0);
  HMODULE dll = LoadLibraryW(win32::wide(default_plugin_path()).c_str());
  const DWORD error = GetLastError();
  EXPECT_EQ(dll, nullptr) << "the DLL loaded over settings of the wrong type";
  if (dll) FreeLibrary(dll);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

}  // namespace
}  // namespace svhost
