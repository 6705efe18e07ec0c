// A simulation run of one block: run start, one step per simulation step,
// and run end.
#pragma once

#include <cstdint>

#include "base/user_data.h"

namespace sv {

// Creates and opens the block's sender (opening failures are dropped), then
// sends the first frame from `inputs`.
void run_start(TUserData& data, const std::uint8_t* inputs);
// Packs and sends one frame.
void run_step(TUserData& data, const std::uint8_t* inputs);
// Closes and frees the sender; without a live sender it does nothing.
void run_end(TUserData& data);

}  // namespace sv
