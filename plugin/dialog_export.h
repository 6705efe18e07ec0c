// CallParameterDialogDLL: its body is shared, its entry the platform's
// (posix/ and win32/dialog_export.cpp): on win32 the entry holds the library
// loaded while the dialog runs.
#pragma once

#include <cstdint>

namespace sv {

// The dialog for the block, raising what fails; OK stores into the block.
void parameter_dialog(void* blockRecord, std::uint8_t* inputsByte);

}  // namespace sv
