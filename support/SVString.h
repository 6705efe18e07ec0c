// SVString: texts by id from the host's string-resource library.
#pragma once

namespace sv::svstring {

void init();
void fini();

}  // namespace sv::svstring
