#include "host/block.h"

#include <algorithm>
#include <cstring>

#include "system/model_file.h"

namespace svhost {

Block::Block(const Plugin& plugin, std::uintptr_t owner_window)
    : plugin_(&plugin), record_(kBlockRecordSize, 0), io_(kInputsOutputsSize, 0) {
  std::memcpy(record_.data() + SV_BLOCK_OWNER_WINDOW, &owner_window, sizeof owner_window);
}

Block::~Block() {
  if (initialised_) dispose();
}

void* Block::user_data() const {
  void* p;
  std::memcpy(&p, record_.data() + SV_BLOCK_USER_DATA_SLOT, sizeof p);
  return p;
}

CallResult Block::init() {
  const Exports& e = plugin_->exports();
  CallResult r = plugin_->call([&] { e.InitUserDLL(record()); });
  if (r) initialised_ = true;
  return r;
}

CallResult Block::dispose() {
  const Exports& e = plugin_->exports();
  initialised_ = false;
  return plugin_->call([&] { e.DisposeUserDLL(record()); });
}

CallResult Block::read_section(ModelFile& file) {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.ReadFromFile(file.handle(), record()); });
}

CallResult Block::write_section(ModelFile& file) {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.WriteToFile(file.handle(), record()); });
}

CallResult Block::load_section(std::string_view bytes, std::int64_t* consumed) {
  ModelFile file = ModelFile::create_temporary();
  file.write(bytes.data(), bytes.size());
  file.seek(0);
  CallResult r = read_section(file);
  if (consumed) *consumed = file.tell();
  return r;
}

CallResult Block::save_section(std::string* bytes) {
  ModelFile file = ModelFile::create_temporary();
  CallResult r = write_section(file);
  file.seek(0);
  *bytes = file.read_rest();
  return r;
}

CallResult Block::query_io(IoInfo* info) {
  CallResult r = plugin_->number_of_inputs_outputs(inputs_outputs(), user_data());
  if (!r) return r;
  info->inputs = io_[0];
  info->outputs = io_[1];
  info->names.clear();
  for (int i = 0; i < SV_IO_MAX_INPUTS; ++i) {
    const char* slot = reinterpret_cast<const char*>(io_.data()) + 2 + SV_IO_NAME_SLOT_SIZE * i;
    info->names.emplace_back(slot, std::find(slot, slot + SV_IO_NAME_SLOT_SIZE, '\0'));
  }
  return r;
}

CallResult Block::parameter_dialog(std::uint8_t* inputs_byte) {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.CallParameterDialogDLL(record(), inputs_byte); });
}

CallResult Block::start_run(const unsigned char* inputs) {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.InitSimulationDLL(record(), inputs, 0); });
}

CallResult Block::step(const unsigned char* inputs) {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.SimulateDLL2(0, 0, 0, 0, 0, 0, record(), inputs, 0); });
}

CallResult Block::end_run() {
  const Exports& e = plugin_->exports();
  return plugin_->call([&] { e.EndSimulationDLL2(record()); });
}

std::string make_section(const SectionValues& v) {
  return std::to_string(v.version) + "\r\n" + v.address + "\r\n" + std::to_string(v.port) + "\r\n" +
         std::to_string(v.inputs) + "\r\n" + std::to_string(v.data_type) + "\r\n";
}

CallResult configure(Block& block, const SectionValues& values) {
  return block.load_section(make_section(values));
}

}  // namespace svhost
