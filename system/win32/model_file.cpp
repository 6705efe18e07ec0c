// Model files as _lopen/_lcreat handles, the kind the plug-in's
// ReadFromFile and WriteToFile take.
#include "system/model_file.h"

#include <windows.h>

#include "system/host_error.h"
#include "system/win32/text.h"

namespace svhost {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  DWORD code = GetLastError();
  throw HostError(what + " " + path + ": " + win32::system_reason(code, path));
}

HFILE hfile(std::intptr_t handle) { return static_cast<HFILE>(handle); }

// The 16-bit-era calls take ANSI paths.
std::string ansi_path(const std::string& utf8_path) { return win32::ansi(win32::wide(utf8_path)); }

}  // namespace

ModelFile ModelFile::open_read(const std::string& path) {
  HFILE h = _lopen(ansi_path(path).c_str(), OF_READ | OF_SHARE_DENY_WRITE);
  if (h == HFILE_ERROR) fail("cannot open", path);
  return ModelFile(h, path, false);
}

ModelFile ModelFile::create(const std::string& path) {
  HFILE h = _lcreat(ansi_path(path).c_str(), 0);
  if (h == HFILE_ERROR) fail("cannot create", path);
  return ModelFile(h, path, false);
}

ModelFile ModelFile::create_temporary() {
  wchar_t dir[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) fail("cannot find the folder for temporary files", "");
  if (!GetTempFileNameW(dir, L"svh", 0, name))
    fail("cannot create temporary file in", win32::utf8(dir));
  std::string path = win32::utf8(name);
  HFILE h = _lcreat(win32::ansi(name).c_str(), 0);  // read-write, emptied
  if (h == HFILE_ERROR) {
    DWORD code = GetLastError();
    DeleteFileW(name);
    SetLastError(code);
    fail("cannot create temporary file", path);
  }
  return ModelFile(h, path, true);
}

void ModelFile::write(const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    UINT n = _lwrite(hfile(handle_), p, static_cast<UINT>(count));
    if (n == static_cast<UINT>(HFILE_ERROR) || n == 0) fail("cannot write", path_);
    p += n;
    count -= n;
  }
}

std::size_t ModelFile::read(void* data, std::size_t count) {
  UINT n = _lread(hfile(handle_), data, static_cast<UINT>(count));
  if (n == static_cast<UINT>(HFILE_ERROR)) fail("cannot read", path_);
  return n;
}

std::int64_t ModelFile::tell() const {
  LONG pos = _llseek(hfile(handle_), 0, FILE_CURRENT);
  if (pos == HFILE_ERROR) fail("cannot tell position in", path_);
  return pos;
}

void ModelFile::seek(std::int64_t position) {
  if (_llseek(hfile(handle_), static_cast<LONG>(position), FILE_BEGIN) == HFILE_ERROR)
    fail("cannot seek in", path_);
}

void ModelFile::close_handle() noexcept {
  if (handle_ != -1) {
    _lclose(hfile(handle_));
    if (temporary_) DeleteFileW(win32::wide(path_).c_str());
  }
  handle_ = -1;
}

}  // namespace svhost
