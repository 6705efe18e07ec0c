#include "system/console.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace sv::console {
namespace {

std::atomic<const char*> g_request{nullptr};
void (*g_wake)() = nullptr;

extern "C" void on_stop_signal(int sig) {
  const int saved = errno;
  g_request.store(sig == SIGINT ? "SIGINT" : "SIGTERM");
  if (g_wake) g_wake();
  errno = saved;
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) { return {argv, argv + argc}; }

void out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void err(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void flush() { std::fflush(stdout); }

// A terminal outlives the programs it runs.
bool closes_with_program() { return false; }

void wait_for_enter() {
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {}
}

// Without SA_RESTART, so that a wait in progress returns as well.
void watch_stop_requests(void (*wake)()) {
  g_wake = wake;
  struct sigaction sa = {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

const char* stop_request() { return g_request.load(); }

}  // namespace sv::console
