// svcomps: the in-house control unit (TIntegerEdit) and its library-wide lists.
#pragma once

namespace sv::svcomps {

void init();
void fini();

}  // namespace sv::svcomps
