// The state all senders share: the count of live senders, the shared layer
// object's lifetime, and the platform socket library, started with the
// first live sender and stopped with the last.
#pragma once

namespace sv::socket_layer {

// Library start-up and shutdown steps.
void init();  // creates the library-wide lock
void fini();  // stops the platform library if a sender left it started

// A sender's create and free. acquire raises SocketLayerStartFailed when the
// platform library cannot be started; nothing is then counted. release stops
// the platform library when it frees the last live sender.
void acquire();
void release();

int live_senders();
bool layer_object_exists();
bool platform_started();

}  // namespace sv::socket_layer
