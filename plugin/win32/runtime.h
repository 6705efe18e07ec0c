// The C++ runtime's thread services as the DLL keeps them (runtime.cpp
// explains why they are its own): what the load hook gives back.
#pragma once

namespace sv::win32 {

// When a thread ends: its thread-local blocks.
void release_thread_runtime();
// At unload, last: the calling thread's blocks, the TLS index, the runtime's
// emergency exception pool, and the semaphores and keys the runtime took.
// Threads still running keep at most their few blocks.
void release_runtime();

}  // namespace sv::win32
