// A start-up that fails makes the DLL refuse to load. Runs alone: it gives
// the prefix's settings a value of the wrong type for a moment.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/plugin.h"
#include "system/win32/text.h"
#include "tests/common/plugin.h"
#include "tests/support/store_fixture.h"

namespace {

// Settings the start-up cannot read: a number where a text belongs.
struct BrokenSettings : sv::test::ScopedStore {
  BrokenSettings() { set_dword(u"Tooltip Help", 1); }
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

// What Windows does after a refused attach, replayed here in its order
// rather than Wine's: the image mapped without the loader's attach, its
// imports bound, then its TLS callbacks and entry point called as the
// loader calls them. The attach is refused through settings of the wrong
// type; then the entry point and the TLS callbacks (read from the image's
// TLS directory) get DLL_PROCESS_DETACH. Whatever the refused attach gave
// back, the detach must not touch again (under the verifier: no lock
// entered after its delete).
class Replayed {
 public:
  explicit Replayed(const std::wstring& path)
      : image_(LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)) {
    if (!image_) return;
    auto* base = reinterpret_cast<BYTE*>(image_);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& dirs = nt->OptionalHeader.DataDirectory;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
             base + dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
         d->Name; ++d) {
      HMODULE from = LoadLibraryA(reinterpret_cast<char*>(base + d->Name));
      imports_.push_back(from);
      auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
           name->u1.AddressOfData; ++name, ++slot) {
        const char* which =
            IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)
                ? MAKEINTRESOURCEA(IMAGE_ORDINAL(name->u1.Ordinal))
                : reinterpret_cast<char*>(
                      reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name);
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        slot->u1.Function = reinterpret_cast<DWORD_PTR>(GetProcAddress(from, which));
        VirtualProtect(slot, sizeof *slot, old, &old);
      }
    }
    entry_ = reinterpret_cast<Entry>(base + nt->OptionalHeader.AddressOfEntryPoint);
    const auto& tls = dirs[IMAGE_DIRECTORY_ENTRY_TLS];
    if (tls.Size) {
      auto* dir = reinterpret_cast<IMAGE_TLS_DIRECTORY*>(base + tls.VirtualAddress);
      for (auto* cb = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(dir->AddressOfCallBacks); cb && *cb;
           ++cb)
        callbacks_.push_back(*cb);
    }
  }
  ~Replayed() {
    if (image_) FreeLibrary(image_);
    for (HMODULE m : imports_) FreeLibrary(m);
  }
  bool mapped() const { return image_ && entry_; }
  bool entry(DWORD reason) { return entry_(image_, reason, nullptr); }
  void tls_callbacks(DWORD reason) {
    for (PIMAGE_TLS_CALLBACK cb : callbacks_) cb(image_, reason, nullptr);
  }

 private:
  using Entry = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID);
  HMODULE image_;
  std::vector<HMODULE> imports_;
  Entry entry_ = nullptr;
  std::vector<PIMAGE_TLS_CALLBACK> callbacks_;
};

TEST(Win32Load, ARefusedAttachThenTheDetachInWindowsOrder) {
  const std::wstring path = svhost::win32::wide(svhost::default_plugin_path());
  {
    BrokenSettings broken;
    Replayed dll(path);
    ASSERT_TRUE(dll.mapped());
    dll.tls_callbacks(DLL_PROCESS_ATTACH);
    EXPECT_FALSE(dll.entry(DLL_PROCESS_ATTACH)) << "the attach was not refused";
    dll.entry(DLL_PROCESS_DETACH);
    dll.tls_callbacks(DLL_PROCESS_DETACH);
  }
  // The process goes on, and the next load of the library works.
  HMODULE again = LoadLibraryW(path.c_str());
  ASSERT_NE(again, nullptr);
  FreeLibrary(again);
}

// This program makes no socket call of its own, so WS2_32.DLL is in the
// process only while the plug-in has it loaded: from its first sender to its
// last, whose export stops it (under the verifier: outside DllMain). A host
// that unloads with a run open still leaves nothing of it behind.
TEST(Win32Load, WinsockComesWithTheFirstSenderAndGoesWithTheLast) {
  auto ws2 = [] { return GetModuleHandleW(L"ws2_32.dll"); };
  ASSERT_EQ(ws2(), nullptr);
  auto plugin = svhost::Plugin::load(svhost::default_plugin_path());
  EXPECT_EQ(ws2(), nullptr);
  // A host that forgets its block, with a run open, when it unloads.
  // Empty frames: the sender starts and opens, sends nothing.
  svhost::Block* block = svtest::block_for(*plugin, {0, "127.0.0.1", 1600, 1, 4}).release();
  std::vector<unsigned char> in(svhost::kMaxInputValues * svhost::kExt80Size, 0);
  for (const bool unload_in_the_run : {false, true}) {
    svhost::CallResult r = block->start_run(in.data());
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_NE(ws2(), nullptr);
    if (unload_in_the_run) break;
    ASSERT_TRUE(block->end_run().ok);
    EXPECT_EQ(ws2(), nullptr) << "the last sender left the socket library loaded";
  }
  // The unload really unloads (no per-thread destructor keeps the DLL), and
  // its shutdown ends the run and stops Winsock.
  plugin.reset();
  EXPECT_EQ(GetModuleHandleW(L"UDPSV2Simulink.dll"), nullptr);
  EXPECT_EQ(ws2(), nullptr);
}

}  // namespace
