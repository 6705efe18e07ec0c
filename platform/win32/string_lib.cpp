// SVSTRING7.DLL: the host's own copy when the host has loaded one, from
// wherever its search found it; otherwise by full path, first from the host
// program's folder, then from the system folder. The bare name would let
// the loader search the current directory too, where a planted DLL must not
// be picked up. A copy found here is only read for its string resources, so
// it is mapped as a resource image and none of its code runs.
#include "platform/string_lib.h"

#include <windows.h>

#include <string>

namespace sv::platform {
namespace {

constexpr wchar_t kFileName[] = L"SVSTRING7.DLL";
constexpr DWORD kFlags = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;

std::wstring program_dir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring system_dir() {
  wchar_t buf[MAX_PATH];
  UINT n = GetSystemDirectoryW(buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

HMODULE load_from(const std::wstring& dir) {
  if (dir.empty()) return nullptr;
  return LoadLibraryExW((dir + L"\\" + kFileName).c_str(), nullptr, kFlags);
}

}  // namespace

StringLib load_string_lib() {
  try {
    // With a reference of our own, so that the host's unload of its copy
    // cannot take the texts away while the plug-in is loaded.
    HMODULE h = nullptr;
    if (GetModuleHandleExW(0, kFileName, &h)) return reinterpret_cast<StringLib>(h);
    h = load_from(program_dir());
    if (!h) h = load_from(system_dir());
    return reinterpret_cast<StringLib>(h);
  } catch (...) {
    return 0;
  }
}

void free_string_lib(StringLib lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

int load_string(StringLib lib, unsigned id, char16_t* buffer, int room) {
  if (room < 1) return 0;
  buffer[0] = 0;
  if (!lib) return 0;
  int n =
      LoadStringW(reinterpret_cast<HINSTANCE>(lib), id, reinterpret_cast<wchar_t*>(buffer), room);
  if (n < 0) n = 0;
  buffer[n] = 0;
  return n;
}

}  // namespace sv::platform
