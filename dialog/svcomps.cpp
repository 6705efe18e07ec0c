#include "dialog/svcomps.h"

#include "plugin/startup.h"
#include "support/unit_counter.h"

namespace sv::svcomps {
namespace {
UnitCounter g_unit;
}

void init() {
  if (!g_unit.begin_init()) return;
  set_decimal_point();
}

void fini() {
  if (!g_unit.begin_fini()) return;
}

}  // namespace sv::svcomps
