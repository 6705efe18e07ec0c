// The few bytes of the host's block record that the library uses.
#pragma once

#include <cstdint>
#include <cstring>

#include "plugin/user_data.h"

namespace sv::block_record {

inline constexpr std::size_t kUserDataSlot = 5571;  // address of TUserData
inline constexpr std::size_t kOwnerWindow = 5579;   // host window handle

inline TUserData* user_data(const void* record) {
  TUserData* p;
  std::memcpy(&p, static_cast<const unsigned char*>(record) + kUserDataSlot, sizeof p);
  return p;
}

inline void set_user_data(void* record, TUserData* data) {
  std::memcpy(static_cast<unsigned char*>(record) + kUserDataSlot, &data, sizeof data);
}

inline std::uintptr_t owner_window(const void* record) {
  std::uintptr_t h;
  std::memcpy(&h, static_cast<const unsigned char*>(record) + kOwnerWindow, sizeof h);
  return h;
}

}  // namespace sv::block_record
