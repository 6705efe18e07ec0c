/* A DLL that breaks one of the verifier's rules on purpose, for the
   verifier's own test: rundll32 sv_verifier_probe.dll,break_rule <rule>.
   "clean" breaks none and uses each kind of object as it should. The rules
   of DllMain ("loader-lock", "thread-detach") are broken by DllMain itself once
   break_rule has armed them. */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static int g_armed; /* 1: the next DLL_THREAD_DETACH allocates; 2: the unload loads a DLL */
static void* volatile g_kept;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  (void)module;
  (void)reserved;
  if (reason == DLL_THREAD_DETACH && g_armed == 1) g_kept = malloc(16);
  if (reason == DLL_PROCESS_DETACH) {
    free(g_kept);
    if (g_armed == 2) FreeLibrary(LoadLibraryW(L"version.dll"));
  }
  return TRUE;
}

static DWORD WINAPI ends_at_once(LPVOID unused) {
  (void)unused;
  return 0;
}

void CALLBACK break_rule(HWND window, HINSTANCE instance, LPSTR rule, int show) {
  CRITICAL_SECTION cs;
  HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
  DWORD index = TlsAlloc();
  void* block = malloc(32);
  (void)window;
  (void)instance;
  (void)show;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  if (strcmp(rule, "locks") == 0) DeleteCriticalSection(&cs); /* while held */
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
  CloseHandle(event);
  if (strcmp(rule, "handles") == 0) CloseHandle(event);
  TlsFree(index);
  if (strcmp(rule, "TLS") == 0) TlsSetValue(index, block);
  if (strcmp(rule, "heaps") == 0) HeapFree(GetProcessHeap(), 0, block);
  else free(block);
  if (strcmp(rule, "thread-detach") == 0) {
    HANDLE thread;
    g_armed = 1;
    thread = CreateThread(NULL, 0, ends_at_once, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  if (strcmp(rule, "loader-lock") == 0) g_armed = 2;
}
