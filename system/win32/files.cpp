#include "system/files.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "system/win32/text.h"

namespace sv::files {
namespace {

using svhost::win32::utf8;
using svhost::win32::wide;

std::string system_text(DWORD code, const std::string& path) {
  const std::string text = svhost::win32::system_text(code, path);
  return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace

std::FILE* open(const std::string& path, const char* mode) {
  return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

std::string write_whole(const std::string& path, std::string_view text) {
  const std::wstring target = wide(path);
  const std::wstring tmp = target + L".tmp." + std::to_wstring(GetCurrentProcessId());
  HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return system_text(GetLastError(), path);
  DWORD written = 0;
  const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  DWORD code = ok ? 0 : GetLastError();
  CloseHandle(f);
  // Unlike rename(), this replaces a file that is there already.
  if (ok && !MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
    code = GetLastError();
  if (!ok || code != 0) {
    DeleteFileW(tmp.c_str());
    return system_text(code, path);
  }
  return {};
}

std::string temporary_folder() {
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return ".";
  std::wstring_view dir(buf, n);
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.remove_suffix(1);
  return utf8(dir);
}

// Shipped beside the program, in a folder of its own with its licence.
std::string chart_library_folder() { return join(program_folder(), "dygraphs"); }

std::string join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder + name
                                                                         : folder + "\\" + name;
}

}  // namespace sv::files
