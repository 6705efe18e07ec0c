// One block instance as the host keeps it: its block record, its
// inputs-outputs struct and its input-value array, driven through the
// per-block exports in the host contract's order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/plugin.h"

namespace svhost {

class ModelFile;

// The window handle the host puts into every block record; never a real
// window natively.
inline constexpr std::uintptr_t kFakeOwnerWindow = 0x00C0FFEE;

// Values the input-value array holds: every count the host can report
// (GetNumberOfInputsOutputs2 gives the low 8 bits of Inputs).
inline constexpr int kMaxInputValues = 256;
inline constexpr std::size_t kExt80Size = 10;

// What GetNumberOfInputsOutputs2 wrote.
struct IoInfo {
  int inputs = 0;                  // byte 0
  int outputs = 0;                 // byte 1
  std::vector<std::string> names;  // the 50 input name slots, up to their zero
};

class Block {
 public:
  explicit Block(const Plugin& plugin, std::uintptr_t owner_window = kFakeOwnerWindow);
  ~Block();  // DisposeUserDLL when still initialised
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  const Plugin& plugin() const { return *plugin_; }
  unsigned char* record() { return record_.data(); }
  unsigned char* inputs_outputs() { return io_.data(); }
  // The address InitUserDLL stored in the user-data slot.
  void* user_data() const;
  bool initialised() const { return initialised_; }

  CallResult init();     // InitUserDLL
  CallResult dispose();  // DisposeUserDLL

  // ReadFromFile / WriteToFile at the file's current position.
  CallResult read_section(ModelFile& file);
  CallResult write_section(ModelFile& file);
  // The same through a temporary file: hands `bytes` to ReadFromFile, and
  // collects what WriteToFile writes. `consumed` receives how many bytes the
  // plug-in read.
  CallResult load_section(std::string_view bytes, std::int64_t* consumed = nullptr);
  CallResult save_section(std::string* bytes);

  // GetNumberOfInputsOutputs2 with this block's TUserData into the
  // inputs-outputs struct, then decoded from it.
  CallResult query_io(IoInfo* info);

  CallResult parameter_dialog(std::uint8_t* inputs_byte);  // CallParameterDialogDLL

  // A run: InitSimulationDLL, SimulateDLL2 per step, EndSimulationDLL2.
  // `inputs` is the input-value array, kMaxInputValues x 10 bytes.
  CallResult start_run(const unsigned char* inputs);
  CallResult step(const unsigned char* inputs);
  CallResult end_run();

 private:
  const Plugin* plugin_;
  std::vector<unsigned char> record_;
  std::vector<unsigned char> io_;
  bool initialised_ = false;
};

// Five CR LF lines of the form the plug-in reads: a version line and the four
// values, formed by the host (used to set up a block from given values).
struct SectionValues {
  std::int64_t version = 0;
  std::string address = "127.0.0.1";
  std::int64_t port = 1600;
  std::int64_t inputs = 1;
  std::int64_t data_type = 0;
};
std::string make_section(const SectionValues& values);

// Sets a fresh block's parameters from values by letting it read a section.
CallResult configure(Block& block, const SectionValues& values);

}  // namespace svhost
