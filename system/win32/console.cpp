#include "system/console.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "system/win32/text.h"

// The C runtime's own parse of the wide command line, by Windows' rules;
// shell32's CommandLineToArgvW would bring shell32 and comctl32 in.
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob,
                              StartupInfo* startup);

namespace sv::console {
namespace {

std::atomic<const char*> g_request{nullptr};
void (*g_wake)() = nullptr;

using svhost::win32::utf8;
using svhost::win32::wide;

// The console behind a standard handle, or null when it goes to a file or
// pipe (or nowhere).
HANDLE console_of(DWORD which) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}

void write(DWORD which, std::FILE* stream, std::string_view text) {
  if (HANDLE console = console_of(which)) {
    const std::wstring w = wide(text);
    // Older consoles refuse very long writes: pieces of at most 8000.
    for (std::size_t at = 0; at < w.size();) {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(w.size() - at, 8000));
      DWORD written = 0;
      if (!WriteConsoleW(console, w.data() + at, piece, &written, nullptr) || written == 0) break;
      at += written;
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

BOOL WINAPI on_console_event(DWORD event) {
  const char* name = event == CTRL_C_EVENT       ? "Ctrl+C"
                     : event == CTRL_BREAK_EVENT ? "Ctrl+Break"
                                                 : "console closed";
  g_request.store(name);
  if (g_wake) g_wake();
  // Closing the console (or logging off) ends the process once this
  // returns: wait, so that the program can finish its files first. Its exit
  // ends this thread; the system ends both after a few seconds at most.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide_args = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo startup{0};
  if (__wgetmainargs(&count, &wide_args, &environment, 0, &startup) != 0 || !wide_args)
    return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(utf8(wide_args[i]));
  return args;
}

void out(std::string_view text) { write(STD_OUTPUT_HANDLE, stdout, text); }

void err(std::string_view text) {
  write(STD_ERROR_HANDLE, stderr, text);
  std::fflush(stderr);
}

void flush() { std::fflush(stdout); }

bool closes_with_program() {
  if (!console_of(STD_OUTPUT_HANDLE)) return false;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void wait_for_enter() {
  if (HANDLE console = console_of(STD_INPUT_HANDLE)) {
    wchar_t c = 0;
    DWORD read = 0;
    while (ReadConsoleW(console, &c, 1, &read, nullptr) && read == 1 && c != L'\r' && c != L'\n') {}
    return;
  }
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {}
}

void watch_stop_requests(void (*wake)()) {
  g_wake = wake;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

const char* stop_request() { return g_request.load(); }

}  // namespace sv::console
