#include "support/SVString.h"

#include "support/unit_counter.h"

namespace sv::svstring {
namespace {
UnitCounter g_unit;
}

void init() {
  if (!g_unit.begin_init()) return;
}

void fini() {
  if (!g_unit.begin_fini()) return;
}

}  // namespace sv::svstring
