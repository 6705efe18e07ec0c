// What the receiving side needs for one block, written out for the tools a
// user receives with: settings of the two Simulink "UDP Receive" blocks, a
// udpport script for MATLAB and Octave, and a dependency-free Python script.
// Each recipe is filled in with the block's real port, data type and count,
// so what a user copies is right for that block. The frame table and the
// troubleshooting list of docs/receiving.md are the output of this file too;
// a test keeps them equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "receiving/frame_decode.h"

namespace sv::recv {

// One block as the receiving side sees it.
struct ReceiverSpec {
  std::string label;          // "block 1 \"UDP Sorvane2Simulink\""; a heading only
  std::string address;        // where the block sends to, as configured
  std::uint16_t port = 1600;  // the low 16 bits of the block's port
  std::optional<ValueType> type = ValueType::Double;  // nullopt: a code that sends nothing
  std::int64_t type_code = 0;                         // the code, for the text when unknown
  std::int64_t inputs = 1;
  // Address the scripts listen on. Empty: the Python script listens on
  // 127.0.0.1 (it takes --bind when started), the MATLAB and Octave scripts
  // on every interface, as a receiver on another machine than the block needs.
  std::string listen;
};

enum class Recipe { Simulink, Matlab, Octave, Python };

// "simulink", "matlab", "octave", "python" or "all" (every recipe in that
// order); nullopt for anything else.
std::optional<std::vector<Recipe>> parse_recipes(std::string_view name);

// The data type of a data type code: 0 double, 1 single, 2 int32, 3 boolean.
std::optional<ValueType> value_type_from_code(std::int64_t code);

// The frame length in bytes; 0 when the block sends no frames.
std::size_t frame_bytes(const ReceiverSpec& spec);

// The recipe text. A block that sends nothing (unknown type code, no inputs)
// gets a short note instead of settings that could never match.
std::string recipe(Recipe which, const ReceiverSpec& spec);

// docs/receiving.md's frame table (markdown).
std::string frame_table();

// docs/receiving.md's list for "nothing arrives" (markdown).
std::string troubleshooting();

}  // namespace sv::recv
