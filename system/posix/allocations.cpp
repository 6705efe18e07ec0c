// Counts every malloc, calloc and realloc of the process, the plug-in's
// included: the executable's definitions take precedence over the C
// library's for every module loaded into it. A file of its own, so that only
// a program that asks for the count links them.
#include <atomic>
#include <cstddef>

#include "system/resources.h"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
}

namespace {
std::atomic<long> g_count{0};
}

extern "C" {
void* malloc(std::size_t n) {
  g_count.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
  g_count.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
  g_count.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
}

namespace svhost {
long allocations() { return g_count.load(std::memory_order_relaxed); }
}  // namespace svhost
