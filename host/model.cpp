#include "host/model.h"

#include <charconv>

#include "system/host_error.h"
#include "system/model_file.h"

namespace svhost {
namespace {

std::string display_name(const Plugin& plugin) {
  std::string name;
  CallResult r = plugin.dll_name(&name);
  if (!r) throw HostError("GetDLLName failed: " + r.failure);
  return name;
}

}  // namespace

void save_model(const std::string& path, const Plugin& plugin, const std::vector<Block*>& blocks) {
  const std::string name = display_name(plugin);
  ModelFile file = ModelFile::create(path);
  file.write(std::string(kModelHeader) + "\r\n");
  int index = 0;
  for (Block* block : blocks) {
    ++index;
    file.write("BLOCK " + std::to_string(index) + " " + name + "\r\n");
    CallResult r = block->write_section(file);
    if (!r)
      throw HostError(path + ": block " + std::to_string(index) +
                      ": WriteToFile failed: " + r.failure);
  }
  file.write(std::string("END\r\n"));
  file.close();
}

std::vector<ModelBlock> load_model(const std::string& path, const Plugin& plugin) {
  const std::string name = display_name(plugin);
  ModelFile file = ModelFile::open_read(path);
  std::string line;
  if (!file.read_line(&line) || line != kModelHeader)
    throw HostError(path + ": not a model file (first line must be '" + kModelHeader + "')");
  std::vector<ModelBlock> blocks;
  for (;;) {
    if (!file.read_line(&line)) throw HostError(path + ": ends without END line");
    if (line == "END") break;
    const std::string where = path + ": block " + std::to_string(blocks.size() + 1);
    // BLOCK <n> <display name>
    std::size_t sp1 = line.find(' '), sp2 = line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    int number = 0;
    if (line.compare(0, 6, "BLOCK ") != 0 || sp2 == std::string::npos ||
        std::from_chars(line.data() + sp1 + 1, line.data() + sp2, number).ptr !=
            line.data() + sp2 ||
        number != static_cast<int>(blocks.size()) + 1)
      throw HostError(where + ": expected 'BLOCK " + std::to_string(blocks.size() + 1) +
                      " <name>', found '" + line + "'");
    ModelBlock mb;
    mb.name = line.substr(sp2 + 1);
    if (mb.name != name)
      throw HostError(where + ": belongs to plug-in '" + mb.name + "', not '" + name + "'");
    mb.block = std::make_unique<Block>(plugin);
    if (CallResult r = mb.block->init(); !r)
      throw HostError(where + ": InitUserDLL failed: " + r.failure);
    if (CallResult r = mb.block->read_section(file); !r)
      throw HostError(where + ": ReadFromFile failed: " + r.failure);
    blocks.push_back(std::move(mb));
  }
  return blocks;
}

}  // namespace svhost
