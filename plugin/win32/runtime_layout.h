// The toolchain's private layouts that runtime.cpp works on, in one place so
// that the configure-time probe (cmake/RuntimeProbe.cmake) can hold them
// against the toolchain's own: mingw-w64 GCC 12, "win32" thread model.
#pragma once

#include <cstdint>

namespace sv::win32::runtime_layout {

// The toolchain release these layouts were read from.
inline constexpr int kGccMajor = 12;

// The compiler's description of one thread-local variable (__emutls_v.*),
// which it hands to __emutls_get_address.
struct EmutlsObject {
  std::uintptr_t size;
  std::uintptr_t align;
  union {
    std::uintptr_t offset;  // 1-based index into a thread's blocks; 0 until first use
    void* ptr;
  } loc;
  void* templ;  // initial bytes, or null for zero
};

// The runtime's once flag and locks (gthr-win32.h's __gthread_*_t).
struct GthreadOnce {
  int done;
  long started;  // -1 until the first caller takes it
};
struct GthreadMutex {
  long counter;  // -1 when free; each waiter adds one
  void* sema;
};
struct GthreadRecursiveMutex {
  long counter;
  long depth;
  unsigned long owner;
  void* sema;
};

}  // namespace sv::win32::runtime_layout
