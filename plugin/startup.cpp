#include "plugin/startup.h"

#include "platform/x87.h"
#include "support/SVConfig.h"
#include "support/SVString.h"
#include "dialog/svcomps.h"
#include "support/unit_counter.h"
#include "transmit/socket_layer.h"

namespace sv {
namespace {

UnitCounter g_unit;
std::uintptr_t g_owner_window = 0;
NumberFormats g_formats;

}  // namespace

std::uintptr_t owner_window() { return g_owner_window; }
void set_owner_window(std::uintptr_t window) { g_owner_window = window; }

const NumberFormats& number_formats() { return g_formats; }
void set_decimal_point() { g_formats.decimal_separator = u'.'; }

void library_startup() {
  if (!g_unit.begin_init()) return;
  x87::set_control_word(x87::kStartupControlWord);
  socket_layer::init();
  svstring::init();
  svconfig::init();
  svcomps::init();
  // The library's own start: the point stays the separator for as long as
  // the library is loaded, whatever the regional settings say.
  set_decimal_point();
  g_formats.update_from_system = false;
}

void library_shutdown() {
  if (!g_unit.begin_fini()) return;
  svcomps::fini();
  svconfig::fini();
  svstring::fini();
  socket_layer::fini();
  g_owner_window = 0;
}

}  // namespace sv
