// A plug-in library loaded by the host emulator, and guarded calls of its
// exports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "system/guard.h"
#include "udpsv_exports.h"

namespace svhost {

// The outcome of one export call.
struct CallResult {
  bool ok = true;
  std::string failure;       // UTF-8 text of the failure; empty when ok
  std::uint32_t raised = 0;  // the structured exception of a failure (win32)
  explicit operator bool() const { return ok; }
};

// The exports, resolved by name: one pointer per entry of the ABI header's
// list.
struct Exports {
#define SVHOST_EXPORT_POINTER(name, bytes) name##_fn name = nullptr;
  SV_EXPORTS(SVHOST_EXPORT_POINTER)
#undef SVHOST_EXPORT_POINTER
};

// Sizes of the host records the emulator allocates; each is larger than the
// highest byte the plug-in may touch.
inline constexpr std::size_t kBlockRecordSize = 8192;
inline constexpr std::size_t kInputsOutputsSize = 4096;
inline constexpr std::size_t kParameterStructSize = 512;
inline constexpr std::size_t kDialogEnableStructSize = 64;

class Plugin {
 public:
  // Loads the library, resolves every export (naming all that are missing)
  // and checks that its start-up succeeded. Throws HostError.
  static std::unique_ptr<Plugin> load(const std::string& path);
  ~Plugin();  // unloads the library
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::string& path() const { return path_; }
  // The system's handle of the loaded library.
  void* library() const { return library_; }
  const Exports& exports() const { return exports_; }

  // Runs `call`, which makes exactly one export call, and reports how the
  // export ended. Usage: plugin.call([&] { plugin.exports().InitUserDLL(r); })
  template <class F>
  CallResult call(F&& call) const {
    using Fn = std::remove_reference_t<F>;
    std::string raw;
    CallResult result;
    result.ok = call_guarded(
        exports_.GetLastFailureDLL, [](void* ctx) { (*static_cast<Fn*>(ctx))(); },
        const_cast<void*>(static_cast<const void*>(&call)), &raw, &result.raised);
    if (!result.ok) result.failure = failure_text_to_utf8(raw);
    return result;
  }

  // GetLastFailureDLL itself; it never fails.
  std::int32_t last_failure(char* buffer, std::int32_t size) const {
    return exports_.GetLastFailureDLL(buffer, size);
  }

  // The describing exports, guarded.
  CallResult is_user_dll32() const;
  CallResult dll_name(std::string* name, const char** address = nullptr) const;
  CallResult can_simulate(std::int32_t* result, std::intptr_t argument = 0) const;
  CallResult parameter_struct(void* record) const;
  CallResult dialog_enable_struct(void* record, std::intptr_t argument = 0) const;
  // GetNumberOfInputsOutputs2 with the given TUserData address (may be null).
  CallResult number_of_inputs_outputs(void* inputs_outputs, void* user_data) const;

 private:
  Plugin() = default;

  void* library_ = nullptr;
  std::string path_;
  Exports exports_;
};

// Where the plug-in is looked for when the command line names none, in this
// order: $SVHOST_PLUGIN when set (`env_plugin`, taken as it is, found or
// not); the platform's plug-in file beside `program`; in ../plugin/ from it
// (the build tree); in the installation's folders
// (dynlib::installed_plugin_folders()). Returns the first that exists.
// Throws HostError naming every place looked at when none does, so that an
// installation without the plug-in says where it was expected.
std::string find_plugin(const std::string& program, const char* env_plugin);

// find_plugin() for the running program and the environment.
std::string default_plugin_path();

}  // namespace svhost
