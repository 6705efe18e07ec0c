// The library's exports. Each finds the block, calls the core, and lets no
// C++ exception cross into the host.
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/owner_window.h"
#include "base/text.h"
#include "base/user_data.h"
#include "dialog/UDPSV2SimulinkDlg.h"
#include "platform/codepage.h"
#include "plugin/block_record.h"
#include "plugin/blocks.h"
#include "plugin/boundary.h"
#include "plugin/dialog_export.h"
#include "plugin/param_section.h"
#include "transmit/run.h"
#include "udpsv_exports.h"

#ifndef SV_EXPORT
#define SV_EXPORT
#endif

namespace {

char g_display_name[] = "UDP Sorvane2Simulink";

template <class T>
void put(void* base, std::size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

std::uint32_t file_handle(intptr_t handle) { return static_cast<std::uint32_t>(handle) & 0xFFFFu; }

const std::uint8_t* values(const void* p) { return static_cast<const std::uint8_t*>(p); }

// The list's byte counts are those of the declarations: 4 per argument.
template <class R, class... A>
constexpr std::size_t argument_bytes(R(SV_CALL*)(A...) noexcept) {
  return 4 * sizeof...(A);
}
#define SV_CHECK_ARGUMENT_BYTES(name, bytes) \
  static_assert(argument_bytes(&name) == (bytes), "SV_EXPORTS: " #name "'s byte count");
SV_EXPORTS(SV_CHECK_ARGUMENT_BYTES)
#undef SV_CHECK_ARGUMENT_BYTES

}  // namespace

extern "C" {

// The describing exports have no work that can fail, but they enter as
// every export does: the entry clears the thread's record and, after a
// failed start-up, fails the call. A result stays valid when it fails.

SV_EXPORT void SV_CALL IsUserDLL32(void) noexcept {
  sv::boundary::run([] {});
}

SV_EXPORT char* SV_CALL GetDLLName(void) noexcept {
  sv::boundary::run([] {});
  return g_display_name;
}

SV_EXPORT int32_t SV_CALL CanSimulateDLL(intptr_t) noexcept {
  sv::boundary::run([] {});
  return 1;
}

SV_EXPORT void SV_CALL GetParameterStruct(void* parameterStruct) noexcept {
  sv::boundary::run([&] {
    put<std::uint8_t>(parameterStruct, SV_PARAMETER_BYTE_0, 0);
    put<std::uint8_t>(parameterStruct, SV_PARAMETER_BYTE_1, 1);
    put<std::uint8_t>(parameterStruct, SV_PARAMETER_BYTE_2, 0);
    put<std::int32_t>(parameterStruct, SV_PARAMETER_WORD_323, 0);
  });
}

SV_EXPORT void SV_CALL GetDialogEnableStruct(void* dialogEnableStruct, intptr_t) noexcept {
  sv::boundary::run([&] {
    put<std::int32_t>(dialogEnableStruct, SV_DIALOG_ENABLE_MASK_0, -1);
    put<std::int32_t>(dialogEnableStruct, SV_DIALOG_ENABLE_MASK_1, -1);
    put<std::int32_t>(dialogEnableStruct, SV_DIALOG_ENABLE_MASK_2, -1);
    put<std::uint8_t>(dialogEnableStruct, SV_DIALOG_ENABLE_FLAG, 1);
  });
}

SV_EXPORT void SV_CALL GetNumberOfInputsOutputs2(void* inputsOutputs, intptr_t, void* userData,
                                                 intptr_t) noexcept {
  sv::boundary::run([&] {
    if (!userData) return;
    const auto* data = static_cast<const sv::TUserData*>(userData);
    put<std::uint8_t>(inputsOutputs, SV_IO_OUTPUT_COUNT, 0);
    put<std::uint8_t>(inputsOutputs, SV_IO_INPUT_COUNT, static_cast<std::uint8_t>(data->Inputs));
    auto* io = static_cast<unsigned char*>(inputsOutputs);
    for (int i = 1; i <= SV_IO_MAX_INPUTS; ++i) {
      std::string name = sv::platform::to_ansi(u"Input " + sv::int_to_u16(i));
      std::memcpy(io + SV_IO_FIRST_NAME + SV_IO_NAME_SLOT_SIZE * (i - 1), name.c_str(),
                  name.size() + 1);
    }
  });
}

SV_EXPORT void SV_CALL InitUserDLL(void* blockRecord) noexcept {
  sv::boundary::run([&] {
    sv::set_owner_window(sv::block_record::owner_window(blockRecord));
    sv::block_record::set_user_data(blockRecord, sv::blocks::create());
  });
}

SV_EXPORT void SV_CALL DisposeUserDLL(void* blockRecord) noexcept {
  sv::boundary::run([&] {
    sv::set_owner_window(0);
    sv::blocks::dispose(sv::block_record::user_data(blockRecord));
  });
}

SV_EXPORT void SV_CALL WriteToFile(intptr_t fileHandle, void* blockRecord) noexcept {
  sv::boundary::run([&] {
    sv::write_section(file_handle(fileHandle), *sv::block_record::user_data(blockRecord));
  });
}

SV_EXPORT void SV_CALL ReadFromFile(intptr_t fileHandle, void* blockRecord) noexcept {
  sv::boundary::run([&] {
    sv::read_section(file_handle(fileHandle), *sv::block_record::user_data(blockRecord));
  });
}

SV_EXPORT void SV_CALL InitSimulationDLL(void* blockRecord, const void* inputValues,
                                         intptr_t) noexcept {
  sv::boundary::run(
      [&] { sv::run_start(*sv::block_record::user_data(blockRecord), values(inputValues)); });
}

// The step, once per simulation step: flattened, so that the system's sendto
// returns into this frame and from here straight to the host (why: send_to
// in platform/net.h).
[[gnu::flatten]] SV_EXPORT void SV_CALL SimulateDLL2(intptr_t, intptr_t, intptr_t, intptr_t,
                                                     intptr_t, intptr_t, void* blockRecord,
                                                     const void* inputValues, intptr_t) noexcept {
  sv::boundary::run([&](sv::x87::Settled settled) {
    sv::run_step(*sv::block_record::user_data(blockRecord), values(inputValues), settled);
  });
}

SV_EXPORT void SV_CALL EndSimulationDLL2(void* blockRecord) noexcept {
  sv::boundary::run([&] { sv::run_end(*sv::block_record::user_data(blockRecord)); });
}

// The one export that does not enter through run(): it reports the record
// that run() would clear, and has nothing that can fail.
SV_EXPORT int32_t SV_CALL GetLastFailureDLL(char* buffer, int32_t size) noexcept {
  sv::x87::drop_pending();
  return sv::boundary::copy_last(buffer, size);
}

}  // extern "C"

// CallParameterDialogDLL's entry is the platform's (dialog_export.cpp).
void sv::parameter_dialog(void* blockRecord, std::uint8_t* inputsByte) {
  TUserData* data = block_record::user_data(blockRecord);
  blocks::DialogScope scope(data);
  run_parameter_dialog(*data, inputsByte, &scope.disposed());
}
