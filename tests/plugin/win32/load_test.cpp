// A start-up that fails makes the DLL refuse to load. Runs alone: it gives
// the prefix's settings a value of the wrong type for a moment.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/plugin.h"
#include "system/win32/text.h"

namespace {

const wchar_t kSettings[] = L"Software\\Haldeck\\Sorvane 7\\General Settings";

class BrokenSettings {
 public:
  BrokenSettings() {
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
    DWORD one = 1;
    RegSetValueExW(key_, L"Tooltip Help", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof one);
  }
  ~BrokenSettings() {
    RegDeleteValueW(key_, L"Tooltip Help");
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
};

TEST(Win32Load, FailedStartUpRefusesTheLoadAndALaterLoadWorks) {
  const std::wstring path = svhost::win32::wide(svhost::default_plugin_path());
  {
    BrokenSettings broken;
    SetLastError(0);
    HMODULE dll = LoadLibraryW(path.c_str());
    DWORD err = GetLastError();
    EXPECT_EQ(dll, nullptr);
    if (dll) FreeLibrary(dll);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  }
  HMODULE dll = LoadLibraryW(path.c_str());
  ASSERT_NE(dll, nullptr);
  EXPECT_NE(GetProcAddress(dll, "InitUserDLL"), nullptr);
  FreeLibrary(dll);
}

// This program makes no socket call of its own, so WS2_32.DLL is in the
// process only while the plug-in has it loaded.
TEST(Win32Load, WinsockComesWithTheFirstSenderAndGoesWithTheUnload) {
  auto ws2 = [] { return GetModuleHandleW(L"ws2_32.dll"); };
  ASSERT_EQ(ws2(), nullptr);
  auto plugin = svhost::Plugin::load(svhost::default_plugin_path());
  EXPECT_EQ(ws2(), nullptr);
  {
    svhost::Block block(*plugin);
    ASSERT_TRUE(block.init().ok);
    svhost::SectionValues v;
    v.data_type = 4;  // empty frames: the sender starts and opens, sends nothing
    ASSERT_TRUE(svhost::configure(block, v).ok);
    std::vector<unsigned char> in(svhost::kMaxInputValues * svhost::kExt80Size, 0);
    svhost::CallResult r = block.start_run(in.data());
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_NE(ws2(), nullptr);
    ASSERT_TRUE(block.end_run().ok);
  }
  EXPECT_NE(ws2(), nullptr);  // started until the plug-in is unloaded
  // The unload really unloads (no per-thread destructor keeps the DLL), and
  // its shutdown stops Winsock and releases WS2_32.DLL.
  plugin.reset();
  EXPECT_EQ(GetModuleHandleW(L"UDPSV2Simulink.dll"), nullptr);
  EXPECT_EQ(ws2(), nullptr);
}

}  // namespace
