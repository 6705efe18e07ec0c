// The host package as a user installs it: the DLL of the unpacked ZIP, in a
// folder whose path has blanks and non-ASCII letters, loaded and driven
// through its exports as a host does. Of the plug-in only its ABI header is
// used, so the DLL is tested as the stranger a host is to it.
//   package_install_test.exe --dll <Windows path of the DLL> --version <x.y.z.w>
#include <winsock2.h>

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "system/udp_probe.h"
#include "system/win32/text.h"
#include "tests/common/ext80.h"
#include "tests/common/texts.h"
#include "udpsv_exports.h"

namespace {

using svhost::win32::ansi;

std::wstring g_dll_path;
std::string g_version;

std::wstring folder_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

// The number a section starts with: the file version without its dots.
std::string section_version() {
  std::string digits;
  for (char c : g_version)
    if (c != '.') digits += c;
  return digits;
}

using svtest::inputs;

// What a failing export raised: a copy of its exception record and text.
struct Raised {
  DWORD code = 0;
  DWORD arguments = 0;
  std::string text;
  int count = 0;
};
Raised g_raised;

// The plug-in raises its failures as continuable exceptions: the handler
// records the first chance and lets the export return.
LONG CALLBACK catch_failure(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  if (r->ExceptionCode != SV_FAILURE_EXCEPTION_CODE) return EXCEPTION_CONTINUE_SEARCH;
  ++g_raised.count;
  g_raised.code = r->ExceptionCode;
  g_raised.arguments = r->NumberParameters;
  if (r->NumberParameters == 2)
    g_raised.text.assign(reinterpret_cast<const char*>(r->ExceptionInformation[0]),
                         static_cast<std::size_t>(r->ExceptionInformation[1]));
  return EXCEPTION_CONTINUE_EXECUTION;
}

class InstalledDll : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLastError(0);
    dll_ = LoadLibraryW(g_dll_path.c_str());
    ASSERT_NE(dll_, nullptr) << "LoadLibraryW failed, error " << GetLastError();
    init_ = fn<InitUserDLL_fn>("InitUserDLL");
    dispose_ = fn<DisposeUserDLL_fn>("DisposeUserDLL");
    write_ = fn<WriteToFile_fn>("WriteToFile");
    read_ = fn<ReadFromFile_fn>("ReadFromFile");
    start_ = fn<InitSimulationDLL_fn>("InitSimulationDLL");
    step_ = fn<SimulateDLL2_fn>("SimulateDLL2");
    end_ = fn<EndSimulationDLL2_fn>("EndSimulationDLL2");
    last_failure_ = fn<GetLastFailureDLL_fn>("GetLastFailureDLL");
    ASSERT_TRUE(init_ && dispose_ && write_ && read_ && start_ && step_ && end_ && last_failure_);
    record_.assign(8192, 0);
    init_(record_.data());
    handler_ = AddVectoredExceptionHandler(1, catch_failure);
    g_raised = Raised{};
  }

  void TearDown() override {
    if (handler_) RemoveVectoredExceptionHandler(handler_);
    if (!dll_) return;
    dispose_(record_.data());
    FreeLibrary(dll_);
    EXPECT_EQ(GetModuleHandleW(L"UDPSV2Simulink.dll"), nullptr);
  }

  template <class Fn>
  Fn fn(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
  }

  // A file beside the DLL, written and read through a handle of the kind
  // _lread and _lwrite take.
  std::wstring file(const wchar_t* name) { return folder_of(g_dll_path) + L"\\" + name; }
  HANDLE open(const std::wstring& path, DWORD access, DWORD disposition) {
    HANDLE h =
        CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    return h;
  }
  static std::intptr_t as_file(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

  void read_section(const std::string& section) {
    const std::wstring path = file(L"Modell mit Blöcken.sec");
    HANDLE h = open(path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD n = 0;
    WriteFile(h, section.data(), static_cast<DWORD>(section.size()), &n, nullptr);
    CloseHandle(h);
    h = open(path, GENERIC_READ, OPEN_EXISTING);
    read_(as_file(h), record_.data());
    CloseHandle(h);
  }

  void step(const std::vector<std::uint8_t>& values) {
    step_(0, 0, 0, 0, 0, 0, record_.data(), values.data(), 0);
  }

  HMODULE dll_ = nullptr;
  void* handler_ = nullptr;
  std::vector<std::uint8_t> record_;
  InitUserDLL_fn init_ = nullptr;
  DisposeUserDLL_fn dispose_ = nullptr;
  WriteToFile_fn write_ = nullptr;
  ReadFromFile_fn read_ = nullptr;
  InitSimulationDLL_fn start_ = nullptr;
  SimulateDLL2_fn step_ = nullptr;
  EndSimulationDLL2_fn end_ = nullptr;
  GetLastFailureDLL_fn last_failure_ = nullptr;
};

// The tests' loopback receiver; only a lost frame waits out its timeout.
class Receiver {
 public:
  int port() const { return probe_.port(); }
  std::vector<std::uint8_t> frame() {
    return probe_.receive().value_or(std::vector<std::uint8_t>{});
  }

 private:
  svhost::UdpProbe probe_;
};

std::vector<std::uint8_t> int32_frame(std::initializer_list<std::int32_t> values) {
  std::vector<std::uint8_t> out;
  for (std::int32_t v : values)
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
  return out;
}

std::wstring file_version(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<BYTE> block(size);
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
  void* value = nullptr;
  UINT chars = 0;
  if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040704E4\\FileVersion", &value, &chars))
    return L"";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST_F(InstalledDll, IsTheUnpackedFileWithTheReleasedVersion) {
  wchar_t loaded[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(dll_, loaded, MAX_PATH * 2);
  EXPECT_EQ(CompareStringOrdinal(loaded, static_cast<int>(n), g_dll_path.c_str(), -1, TRUE),
            CSTR_EQUAL);
  EXPECT_EQ(file_version(g_dll_path), std::wstring(g_version.begin(), g_version.end()));
}

TEST_F(InstalledDll, WritesItsOwnVersionFirstInANewBlocksSection) {
  const std::wstring path = file(L"Neuer Block.sec");
  HANDLE h = open(path, GENERIC_WRITE, CREATE_ALWAYS);
  write_(as_file(h), record_.data());
  CloseHandle(h);
  h = open(path, GENERIC_READ, OPEN_EXISTING);
  char buf[256];
  DWORD n = 0;
  ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  EXPECT_EQ(std::string(buf, n), section_version() + "\r\n127.0.0.1\r\n1600\r\n1\r\n0\r\n");
}

TEST_F(InstalledDll, SendsAFrameAtTheRunStartAndOnePerStep) {
  Receiver receiver;
  read_section(section_version() + "\r\n127.0.0.1\r\n" + std::to_string(receiver.port()) +
               "\r\n3\r\n2\r\n");
  ASSERT_EQ(g_raised.count, 0) << g_raised.text;
  start_(record_.data(), inputs({1.0, -2.5, 3.5}).data(), 0);
  step(inputs({7.0, 0.5, -2147483648.0}));
  step(inputs({2147483648.0, 1.5, -0.0}));
  end_(record_.data());
  EXPECT_EQ(g_raised.count, 0) << g_raised.text;
  EXPECT_EQ(receiver.frame(), int32_frame({1, -2, 4}));
  EXPECT_EQ(receiver.frame(), int32_frame({7, 0, -2147483647 - 1}));
  EXPECT_EQ(receiver.frame(), int32_frame({-2147483647 - 1, 2, 0}));
}

TEST_F(InstalledDll, FailuresCrossAsTheDocumentedStructuredException) {
  // A section that is no integer where the port must be.
  read_section(section_version() + "\r\n127.0.0.1\r\nabc\r\n1\r\n0\r\n");
  const std::string text = ansi(L"''abc'' ist kein g\u00FCltiger Integer-Wert");
  EXPECT_EQ(g_raised.count, 1);
  EXPECT_EQ(g_raised.code, static_cast<DWORD>(SV_FAILURE_EXCEPTION_CODE));
  EXPECT_EQ(g_raised.arguments, 2u);
  EXPECT_EQ(g_raised.text, text);
  char copy[256];
  EXPECT_EQ(last_failure_(copy, sizeof copy), static_cast<std::int32_t>(text.size()));
  EXPECT_EQ(std::string(copy), text);

  // A NaN under int32 fails its step under the control word of the load,
  // and nothing goes out for that step: the next frame is the next step's.
  Receiver receiver;
  g_raised = Raised{};
  read_section(section_version() + "\r\n127.0.0.1\r\n" + std::to_string(receiver.port()) +
               "\r\n1\r\n2\r\n");
  start_(record_.data(), inputs({5.0}).data(), 0);
  step(inputs({__builtin_nan("")}));
  EXPECT_EQ(g_raised.count, 1);
  EXPECT_EQ(g_raised.text, ansi(svhost::win32::wide(svtest::kInvalidOp)));
  step(inputs({6.0}));
  end_(record_.data());
  EXPECT_EQ(g_raised.count, 1);
  EXPECT_EQ(receiver.frame(), int32_frame({5}));
  EXPECT_EQ(receiver.frame(), int32_frame({6}));
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::wstring a = wargv[i];
    if (a == L"--dll" && i + 1 < argc) {
      g_dll_path = wargv[++i];
    } else if (a == L"--version" && i + 1 < argc) {
      std::wstring v = wargv[++i];
      g_version.assign(v.begin(), v.end());
    } else {
      args.push_back(ansi(a));
    }
  }
  LocalFree(wargv);
  if (g_dll_path.empty() || g_version.empty()) {
    std::fprintf(stderr,
                 "usage: package_install_test --dll PATH --version VERSION [gtest options]\n");
    return 2;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  int n = static_cast<int>(argv.size());
  ::testing::InitGoogleTest(&n, argv.data());
  return RUN_ALL_TESTS();
}
