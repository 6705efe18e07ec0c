// A settings store that start-up cannot read leaves the loaded library
// unusable, and the host learns why from GetLastFailureDLL.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

using GetLastFailureFn = std::int32_t (*)(char*, std::int32_t);
using GetNumberOfInputsOutputs2Fn = void (*)(void*, std::intptr_t, void*, std::intptr_t);
using GetParameterStructFn = void (*)(void*);

struct LoadResult {
  std::string after_load;  // GetLastFailureDLL right after loading
  std::string after_call;  // and after an export that works once started
  std::string describing;  // a describing export: whether it wrote its record, and the failure
};

// Loads the library in a child process, so that its start-up (and the
// control word it loads) stays out of this one.
LoadResult load_with_store(const std::string& store_text) {
  std::string tmpl = (fs::temp_directory_path() / "svstore-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return {"mkdtemp", "", ""};
  const fs::path file = fs::path(tmpl) / "registry.reg";
  std::ofstream(file, std::ios::binary) << store_text;

  int fds[2];
  if (::pipe(fds) != 0) return {"pipe", "", ""};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::setenv("UDPSV_REGISTRY_FILE", file.c_str(), 1);
    std::string out = "dlopen failed\n\n";
    if (void* lib = ::dlopen(SV_TEST_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {
      auto last = reinterpret_cast<GetLastFailureFn>(::dlsym(lib, "GetLastFailureDLL"));
      auto io =
          reinterpret_cast<GetNumberOfInputsOutputs2Fn>(::dlsym(lib, "GetNumberOfInputsOutputs2"));
      char buf[256];
      std::int32_t n = last(buf, sizeof buf);
      out = std::to_string(n) + ":" + buf + "\n";
      io(nullptr, 0, nullptr, 0);
      n = last(buf, sizeof buf);
      out += std::to_string(n) + ":" + buf + "\n";
      auto parameters = reinterpret_cast<GetParameterStructFn>(::dlsym(lib, "GetParameterStruct"));
      unsigned char record[512];
      std::memset(record, 0xEE, sizeof record);
      parameters(record);
      const bool wrote = std::count(record, record + sizeof record, 0xEE) != sizeof record;
      n = last(buf, sizeof buf);
      out += std::string(wrote ? "wrote " : "untouched ") + std::to_string(n) + ":" + buf + "\n";
    }
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
  fs::remove_all(tmpl);

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

const std::string kHead =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General Settings]\r\n";

TEST(StartupFailure, WrongValueTypeFailsEveryExportWithItsText) {
  LoadResult r = load_with_store(kHead + "\"Tooltip Help\"=dword:00000001\r\n");
  const std::string text = "Ungültiger Datentyp für 'Tooltip Help'";
  EXPECT_EQ(r.after_load, std::to_string(text.size()) + ":" + text);
  EXPECT_EQ(r.after_call, std::to_string(text.size()) + ":" + text);
  // The describing exports enter as every other export does.
  EXPECT_EQ(r.describing, "untouched " + std::to_string(text.size()) + ":" + text);
}

TEST(StartupFailure, ReadableStoreLoadsCleanly) {
  LoadResult r = load_with_store(kHead + "\"Tooltip Help\"=\"0\"\r\n");
  EXPECT_EQ(r.after_load, "0:");
  EXPECT_EQ(r.after_call, "0:");
  EXPECT_EQ(r.describing, "wrote 0:");
}

}  // namespace
