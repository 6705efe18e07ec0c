/* A DLL with one planted import, for the tests of the import check.
   SV_PLANT picks it: 0 GetLastError, which the reviewed list has;
   1 GetWindowSubclass by name; 2 a function Windows 7 does not have. */
#include <windows.h>

#include <commctrl.h>

__declspec(dllexport) FARPROC planted(void) {
#if SV_PLANT == 1
  return (FARPROC)&GetWindowSubclass;
#elif SV_PLANT == 2
  return (FARPROC)&GetSystemTimePreciseAsFileTime;
#else
  return (FARPROC)&GetLastError;
#endif
}
