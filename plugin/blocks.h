// The blocks alive in the library. A host that disposes a block without
// ending its run, or unloads the library with blocks it never disposed,
// must not leave a socket or memory behind: the library keeps its own list.
#pragma once

#include "base/user_data.h"

namespace sv::blocks {

// A new block's parameter record with its defaults.
TUserData* create();
// Ends the block's run if the host forgot to, and frees the record. A
// record the library does not know (disposed already) is left alone.
void dispose(TUserData* data);
// At unload: every block the host never disposed.
void dispose_all();

}  // namespace sv::blocks
