// A settings store that start-up cannot read leaves the library unusable,
// and the host learns why from GetLastFailureDLL. Natively the store is the
// test's own, so the library's exports are linked in and started as the
// load hook (plugin/posix/entry.cpp) starts them.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plugin/boundary.h"
#include "plugin/startup.h"
#include "tests/common/failure.h"
#include "tests/support/store_fixture.h"
#include "udpsv_exports.h"

namespace {

struct LoadResult {
  std::string after_load;  // GetLastFailureDLL right after loading
  std::string after_call;  // and after an export that works once started
  std::string describing;  // a describing export: whether it wrote its record, and the failure
};

// The length GetLastFailureDLL reports, and its text.
std::string last_failure() {
  return std::to_string(GetLastFailureDLL(nullptr, 0)) + ":" + svtest::last_failure();
}

// Starts the library in a child process, so that its start-up (and the
// control word it loads) stays out of this one.
LoadResult load_with(void (*fill)(sv::test::ScopedStore&)) {
  int fds[2];
  if (::pipe(fds) != 0) return {"pipe", "", ""};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    sv::test::ScopedStore store;
    fill(store);
    try {
      sv::library_startup();
    } catch (...) {
      sv::boundary::record_startup_failure();
    }
    std::string out = last_failure() + "\n";
    GetNumberOfInputsOutputs2(nullptr, 0, nullptr, 0);
    out += last_failure() + "\n";
    unsigned char record[512];
    std::memset(record, 0xEE, sizeof record);
    GetParameterStruct(record);
    const bool wrote = std::count(record, record + sizeof record, 0xEE) != sizeof record;
    out += std::string(wrote ? "wrote " : "untouched ") + last_failure() + "\n";
    (void)!::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    got.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);

  LoadResult r;
  std::size_t nl = got.find('\n');
  r.after_load = got.substr(0, nl);
  if (nl == std::string::npos) return r;
  const std::size_t nl2 = got.find('\n', nl + 1);
  r.after_call = got.substr(nl + 1, nl2 - nl - 1);
  if (nl2 != std::string::npos)
    r.describing = got.substr(nl2 + 1, got.find('\n', nl2 + 1) - nl2 - 1);
  return r;
}

TEST(StartupFailure, WrongValueTypeFailsEveryExportWithItsText) {
  LoadResult r = load_with([](sv::test::ScopedStore& s) { s.set_dword(u"Tooltip Help", 1); });
  const std::string text = "Ungültiger Datentyp für 'Tooltip Help'";
  EXPECT_EQ(r.after_load, std::to_string(text.size()) + ":" + text);
  EXPECT_EQ(r.after_call, std::to_string(text.size()) + ":" + text);
  // The describing exports enter as every other export does.
  EXPECT_EQ(r.describing, "untouched " + std::to_string(text.size()) + ":" + text);
}

TEST(StartupFailure, ReadableStoreLoadsCleanly) {
  LoadResult r = load_with([](sv::test::ScopedStore& s) { s.set_string(u"Tooltip Help", u"0"); });
  EXPECT_EQ(r.after_load, "0:");
  EXPECT_EQ(r.after_call, "0:");
  EXPECT_EQ(r.describing, "wrote 0:");
}

}  // namespace
