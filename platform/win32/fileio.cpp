// The host hands over an _lread/_lwrite handle of its open model file.
#include "platform/fileio.h"

#include <windows.h>

namespace sv::platform {

std::int32_t file_write(std::uint32_t handle, const void* data, std::uint32_t count) {
  UINT n = _lwrite(static_cast<HFILE>(handle), static_cast<LPCCH>(data), count);
  return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<std::int32_t>(n);
}

std::int32_t file_read(std::uint32_t handle, void* data, std::uint32_t count) {
  UINT n = _lread(static_cast<HFILE>(handle), data, count);
  return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<std::int32_t>(n);
}

}  // namespace sv::platform
