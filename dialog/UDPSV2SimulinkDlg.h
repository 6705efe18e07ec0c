// UDPSV2SimulinkDlg: the block's parameter dialog, the form
// TUDPSV2SimulinkDialog. The form itself is data; all logic is in
// run_parameter_dialog.
#pragma once

#include <cstdint>

#include "base/user_data.h"

namespace sv {

// Shows the dialog modally; on OK stores the fields back and hands the new
// number of inputs to the host's byte, unless *block_gone turned true while
// the dialog was open (the host disposed the block meanwhile).
void run_parameter_dialog(TUserData& data, std::uint8_t* inputs_byte,
                          const bool* block_gone = nullptr);

}  // namespace sv
