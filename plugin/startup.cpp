#include "plugin/startup.h"

#include "base/owner_window.h"
#include "base/unit_counter.h"
#include "base/x87.h"
#include "dialog/svcomps.h"
#include "plugin/blocks.h"
#include "support/SVConfig.h"
#include "support/SVString.h"
#include "transmit/socket_layer.h"

namespace sv {
namespace {

UnitCounter g_unit;

}  // namespace

// Number text inside the library never consults the locale (base/text.h),
// so the point is the decimal separator for as long as the library is
// loaded without any state to set or refresh.
void library_startup() {
  if (!g_unit.begin_init()) return;
  x87::load_startup_control_word();
  socket_layer::init();
  svstring::init();
  svconfig::init();
  svcomps::init();
}

void library_shutdown() {
  if (!g_unit.begin_fini()) return;
  // Blocks the host never disposed, and their runs: their sockets close
  // while the socket layer is still up.
  blocks::dispose_all();
  svcomps::fini();
  svconfig::fini();
  svstring::fini();
  socket_layer::fini();
  set_owner_window(0);
}

}  // namespace sv
