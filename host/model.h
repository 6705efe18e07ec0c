// The host's model file: 8-bit text with CR LF lines.
//
//   SVHOST-MODEL 1
//   BLOCK 1 <display name>
//   <the block's parameter section, written and read by the plug-in>
//   BLOCK 2 <display name>
//   ...
//   END
//
// The host never looks inside a section: it hands the file, positioned after
// the BLOCK line, to the plug-in and carries on where the plug-in stopped.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/block.h"

namespace svhost {

inline constexpr char kModelHeader[] = "SVHOST-MODEL 1";

struct ModelBlock {
  std::string name;  // display name from the BLOCK line
  std::unique_ptr<Block> block;
};

// Writes the header, a BLOCK line and the plug-in's section per block, and
// the END line. Throws HostError on a file error or a failing WriteToFile.
void save_model(const std::string& path, const Plugin& plugin, const std::vector<Block*>& blocks);

// Creates and initialises one block per BLOCK line and lets it read its
// section. Throws HostError (naming the block) for a malformed file, a block
// of another plug-in, or a failing InitUserDLL or ReadFromFile.
std::vector<ModelBlock> load_model(const std::string& path, const Plugin& plugin);

}  // namespace svhost
