// SVConfig: the host-wide settings read at load.
#pragma once

namespace sv::svconfig {

void init();
void fini();

}  // namespace sv::svconfig
