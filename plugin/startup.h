// Library start-up and shutdown: the units in their order.
#pragma once

namespace sv {

// Called once by the platform's load and unload hooks (and by tests).
// Start-up raises when a unit fails (e.g. the settings store).
void library_startup();
void library_shutdown();

}  // namespace sv
