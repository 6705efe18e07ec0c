#include "platform/module_version.h"

#include "base/text.h"
#include "sv_version.h"

namespace sv::platform {

// The shared object carries the same project version that the win32 build
// writes into its version resource.
std::optional<std::u16string> module_file_version() { return u16(SV_FILE_VERSION_TEXT); }

}  // namespace sv::platform
