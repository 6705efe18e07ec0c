// The "FileVersion" of the module this code is linked into: the plug-in DLL,
// or a test program that carries the same version resource.
#include "platform/module_version.h"

#include <windows.h>

#include <vector>

namespace sv::platform {

std::optional<std::u16string> module_file_version() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&module_file_version), &module))
    return std::nullopt;

  constexpr DWORD kPathChars = 1000;
  wchar_t path[kPathChars + 1];
  DWORD len = GetModuleFileNameW(module, path, kPathChars);
  // A path that fills the buffer may have been cut: no version then.
  if (len == 0 || len >= kPathChars) return std::nullopt;
  path[len] = L'\0';

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> block(size, 0);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return std::nullopt;

  void* value = nullptr;
  UINT chars = 0;
  if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040704E4\\FileVersion", &value, &chars) ||
      !value)
    return std::nullopt;
  const auto* text = static_cast<const char16_t*>(value);
  std::u16string out(text, chars);
  // The count may include the terminating zero.
  while (!out.empty() && out.back() == u'\0') out.pop_back();
  return out;
}

}  // namespace sv::platform
