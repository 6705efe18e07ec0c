// Load and unload hooks of the DLL.
#include <windows.h>

#include "plugin/boundary.h"
#include "plugin/startup.h"
#include "plugin/win32/runtime.h"

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
        sv::win32::release_runtime();
      }
      return TRUE;
    case DLL_THREAD_DETACH:
      sv::boundary::release_thread_record();
      sv::win32::release_thread_runtime();
      return TRUE;
    default: return TRUE;
  }
}
