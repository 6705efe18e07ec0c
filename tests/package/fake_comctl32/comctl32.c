/* An old comctl32.dll for the self-test's test: it has three of the four
 * functions the plug-in takes from the common controls, but not
 * SetWindowSubclass, as a common controls library before 5.82 (Windows XP
 * SP1) lacks it. Nothing here is ever called. */
typedef int BOOL;

__declspec(dllexport) BOOL __stdcall InitCommonControlsEx(const void* init) {
  (void)init;
  return 0;
}

__declspec(dllexport) BOOL __stdcall RemoveWindowSubclass(void* w, void* proc, unsigned long id) {
  (void)w;
  (void)proc;
  (void)id;
  return 0;
}

__declspec(dllexport) long __stdcall DefSubclassProc(void* window, unsigned message, unsigned w,
                                                     long l) {
  (void)window;
  (void)message;
  (void)w;
  (void)l;
  return 0;
}
