// svcomps: the in-house control unit (TIntegerEdit) and its library-wide lists.
#pragma once

#include <string>
#include <vector>

#include "support/SVList.h"

namespace sv::svcomps {

void init();
void fini();

// The unit's two library-wide lists, alive from init to fini (null outside).
std::vector<std::u16string>* string_list();  // unsorted, duplicates accepted
TExtendedList* value_list();

}  // namespace sv::svcomps
