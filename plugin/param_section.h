// The block's five-line section in the host's model file.
#pragma once

#include <cstdint>

#include "base/user_data.h"

namespace sv {

// Bytes of text a written line may hold (its CR, LF and a terminating zero
// share the 1001-byte line buffer).
inline constexpr std::size_t kMaxWrittenLine = 998;
// Bytes of text a read line may hold before its CR LF.
inline constexpr std::size_t kMaxReadLine = 999;

// The section's version number: the module's FileVersion without its dots.
std::int32_t module_version_number();

void write_section(std::uint32_t handle, const TUserData& data);
void read_section(std::uint32_t handle, TUserData& data);

}  // namespace sv
