// The state all senders share: the count of live senders, the shared layer
// object's lifetime, and the one-time start of the platform socket library.
#pragma once

namespace sv::socket_layer {

// Library start-up and shutdown steps.
void init();  // creates the library-wide lock
void fini();  // stops the platform library if a sender started it

// A sender's create and free. acquire raises SocketLayerStartFailed when the
// platform library cannot be started; nothing is then counted.
void acquire();
void release();

int live_senders();
bool layer_object_exists();
bool platform_started();

}  // namespace sv::socket_layer
