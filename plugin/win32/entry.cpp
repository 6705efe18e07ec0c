// Load and unload hooks of the DLL. The DLL's entry point runs them
// (runtime.cpp), then gives back what the C++ runtime took.
#include <windows.h>

#include "plugin/boundary.h"
#include "plugin/startup.h"

// runtime.cpp: whether the calling thread has the DLL's thread-local blocks.
extern "C" bool sv_thread_has_blocks() noexcept;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      try {
        // Runs on the loading thread, so its x87 control word is the one set.
        sv::library_startup();
      } catch (...) {
        try {
          sv::boundary::record_startup_failure();
        } catch (...) {}
        return FALSE;  // the DLL refuses to load
      }
      return TRUE;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != null) other DLLs may already be gone and
      // the system reclaims everything; only an unload runs the shutdown.
      if (reserved == nullptr) {
        try {
          sv::library_shutdown();
        } catch (...) {}
        sv::boundary::release_thread_record();
      }
      return TRUE;
    case DLL_THREAD_DETACH:
      // The thread's failure record (its thread-local blocks go after this).
      // Every thread of the process comes here: one that never called the
      // DLL has no blocks, and asking for its record would make them.
      if (sv_thread_has_blocks()) sv::boundary::release_thread_record();
      return TRUE;
    default: return TRUE;
  }
}
