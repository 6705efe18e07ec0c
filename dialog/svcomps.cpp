#include "dialog/svcomps.h"

#include "base/unit_counter.h"

namespace sv::svcomps {
namespace {
// Plain pointers: nothing here may depend on the order of static
// initialisation against the load hook, which runs the unit's init.
UnitCounter g_unit;
std::vector<std::u16string>* g_strings = nullptr;
TExtendedList* g_values = nullptr;
}  // namespace

void init() {
  if (!g_unit.begin_init()) return;
  g_strings = new std::vector<std::u16string>();
  g_values = new TExtendedList();
}

void fini() {
  if (!g_unit.begin_fini()) return;
  delete g_strings;
  g_strings = nullptr;
  delete g_values;
  g_values = nullptr;
}

std::vector<std::u16string>* string_list() { return g_strings; }
TExtendedList* value_list() { return g_values; }

}  // namespace sv::svcomps
