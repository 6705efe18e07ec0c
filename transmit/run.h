// A simulation run of one block: run start, one step per simulation step,
// and run end.
#pragma once

#include <cstdint>

#include "base/user_data.h"
#include "transmit/frame.h"
#include "transmit/udp_sender.h"

namespace sv {

// Creates and opens the block's sender (opening failures are dropped), then
// sends the first frame from `inputs`.
void run_start(TUserData& data, const std::uint8_t* inputs);
// Packs and sends one frame.
inline void run_step(TUserData& data, const std::uint8_t* inputs);
// The same, straight from an export's entry, with the word it read. Inline,
// as is the sender's Send: see there.
inline void run_step(TUserData& data, const std::uint8_t* inputs, x87::Settled settled);
// Closes and frees the sender; without a live sender it does nothing.
void run_end(TUserData& data);

namespace detail {
[[noreturn]] void raise_no_sender();

[[gnu::always_inline]] inline void send_frame(TUserData& data, const std::uint8_t* frame,
                                              std::size_t size) {
  // A step outside a run (or after a failed run start) has nowhere to send.
  if (!data.Sender) raise_no_sender();
  data.Sender->Send(frame, size);
}
}  // namespace detail

// The frame lives on the stack: at most 255 inputs of 8 bytes, so a step
// with a dotted address makes no heap allocation.
inline void run_step(TUserData& data, const std::uint8_t* inputs) {
  std::uint8_t frame[kMaxFrameSize];
  detail::send_frame(data, frame, build_frame(data.Inputs, data.DataType, inputs, frame));
}

[[gnu::always_inline]] inline void run_step(TUserData& data, const std::uint8_t* inputs,
                                            x87::Settled settled) {
  std::uint8_t frame[kMaxFrameSize];
  detail::send_frame(data, frame, build_frame(data.Inputs, data.DataType, inputs, frame, settled));
}

}  // namespace sv
