// The few bytes of the host's block record that the library uses.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/user_data.h"
#include "udpsv_exports.h"

namespace sv::block_record {

inline TUserData* user_data(const void* record) {
  TUserData* p;
  std::memcpy(&p, static_cast<const unsigned char*>(record) + SV_BLOCK_USER_DATA_SLOT, sizeof p);
  return p;
}

inline void set_user_data(void* record, TUserData* data) {
  std::memcpy(static_cast<unsigned char*>(record) + SV_BLOCK_USER_DATA_SLOT, &data, sizeof data);
}

inline std::uintptr_t owner_window(const void* record) {
  std::uintptr_t h;
  std::memcpy(&h, static_cast<const unsigned char*>(record) + SV_BLOCK_OWNER_WINDOW, sizeof h);
  return h;
}

}  // namespace sv::block_record
