// The dialog's entry, as every other export's.
#include "plugin/dialog_export.h"

#include "plugin/boundary.h"
#include "udpsv_exports.h"

extern "C" SV_EXPORT void SV_CALL CallParameterDialogDLL(void* blockRecord,
                                                         uint8_t* inputsByte) noexcept {
  sv::boundary::run([&] { sv::parameter_dialog(blockRecord, inputsByte); });
}
