// Byte I/O on the host's open model file. The handle is the value the host
// passes (a POSIX descriptor natively, an _lread/_lwrite handle on win32),
// already reduced to its low 16 bits.
#pragma once

#include <cstdint>

namespace sv::platform {

// Both return the byte count transferred, 0 at end of file, or -1.
std::int32_t file_write(std::uint32_t handle, const void* data, std::uint32_t count);
std::int32_t file_read(std::uint32_t handle, void* data, std::uint32_t count);

}  // namespace sv::platform
