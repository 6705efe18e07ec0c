// svcomps: the in-house control unit (TIntegerEdit) and its library-wide lists.
#pragma once

#include <string>
#include <vector>

#include "support/SVList.h"

namespace sv::svcomps {

void init();
void fini();

// The unit's two library-wide lists, alive from init to fini (null outside);
// the string list is unsorted and accepts duplicates.
std::vector<std::u16string>* string_list();  // contract only: never used
TExtendedList* value_list();                 // contract only: never used

}  // namespace sv::svcomps
