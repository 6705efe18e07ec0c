// The program's console: what the programs write there, the requests to
// stop that come from it, and whether it closes with the program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// printf's checks of a pattern; mingw's printf is the C99 one, so its
// patterns are checked as such.
#ifdef __MINGW32__
#define SV_PRINTF_LIKE(pattern, first) __attribute__((format(gnu_printf, pattern, first)))
#else
#define SV_PRINTF_LIKE(pattern, first) __attribute__((format(printf, pattern, first)))
#endif

namespace sv::console {

// The command line as UTF-8: on Windows from the wide command line, so that
// every file name survives whatever the code page; elsewhere argv as it is.
std::vector<std::string> arguments(int argc, char** argv);

// UTF-8 text to standard output or standard error. A Windows console gets
// it as UTF-16 and shows every character whatever its code page; a file or
// a pipe gets the bytes.
void out(std::string_view text);
void err(std::string_view text);
// Passes on what standard output holds back.
void flush();

// printf's formatting (the C locale's) into a string.
std::string format(const char* pattern, ...) SV_PRINTF_LIKE(1, 2);

// Whether the console was made for this program alone and closes when it
// ends, as for a program started by a double-click: false without a
// console, when standard output goes to a file or pipe, and when another
// program (a command prompt) shares the console.
bool closes_with_program();
// Waits until Enter is pressed, or standard input ends.
void wait_for_enter();

// Ctrl+C and the system's other requests to end a console program: SIGINT
// and SIGTERM; on Windows Ctrl+C, Ctrl+Break and closing the console. From
// the first call on, a request makes stop_request() name it and calls
// `wake`: from a signal handler on POSIX (so only async-signal-safe calls),
// from the system's thread for it on Windows.
void watch_stop_requests(void (*wake)());
// The name of the request that came ("SIGINT", "Ctrl+C", ...), or null.
const char* stop_request();

}  // namespace sv::console
