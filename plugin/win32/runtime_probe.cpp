// Compiled only when the win32 build is configured (cmake/RuntimeProbe.cmake),
// by the compiler of the runtime that runtime.cpp replaces parts of: each
// assertion is one thing that file relies on. A failure here means: revisit
// plugin/win32/runtime.cpp before building the DLL with this toolchain.
// After a standard header, so that the library's configuration (which asks
// for the out-of-line entry points) is in force, as it is in the runtime.
#include <cstddef>
#include <type_traits>

// After them (see above).
#include <bits/gthr.h>

#include "plugin/win32/runtime_layout.h"

namespace layout = sv::win32::runtime_layout;

static_assert(__GNUC__ == layout::kGccMajor,
              "another GCC release: its runtime's internals were not checked");
static_assert(__GTHREAD_HIDE_WIN32API,
              "the runtime no longer calls __gthr_win32_* out of line: they are not replaced");

#define SV_SAME_FIELD(theirs, ours, field)                          \
  static_assert(offsetof(theirs, field) == offsetof(ours, field) && \
                    sizeof(theirs::field) == sizeof(ours::field),   \
                #theirs "::" #field " moved or changed size")
#define SV_SAME_SIZE(theirs, ours)                                                  \
  static_assert(sizeof(theirs) == sizeof(ours) && alignof(theirs) == alignof(ours), \
                #theirs " changed size")

SV_SAME_SIZE(__gthread_once_t, layout::GthreadOnce);
SV_SAME_FIELD(__gthread_once_t, layout::GthreadOnce, done);
SV_SAME_FIELD(__gthread_once_t, layout::GthreadOnce, started);
SV_SAME_SIZE(__gthread_mutex_t, layout::GthreadMutex);
SV_SAME_FIELD(__gthread_mutex_t, layout::GthreadMutex, counter);
SV_SAME_FIELD(__gthread_mutex_t, layout::GthreadMutex, sema);
SV_SAME_SIZE(__gthread_recursive_mutex_t, layout::GthreadRecursiveMutex);
SV_SAME_FIELD(__gthread_recursive_mutex_t, layout::GthreadRecursiveMutex, counter);
SV_SAME_FIELD(__gthread_recursive_mutex_t, layout::GthreadRecursiveMutex, depth);
SV_SAME_FIELD(__gthread_recursive_mutex_t, layout::GthreadRecursiveMutex, owner);
SV_SAME_FIELD(__gthread_recursive_mutex_t, layout::GthreadRecursiveMutex, sema);

// The states runtime.cpp reads: a fresh once is {not done, -1}, a free lock
// has counter -1 and no semaphore yet.
constexpr __gthread_once_t kOnce = __GTHREAD_ONCE_INIT;
static_assert(kOnce.done == 0 && kOnce.started == -1, "__GTHREAD_ONCE_INIT changed");
constexpr __gthread_mutex_t kMutex = __GTHREAD_MUTEX_INIT_DEFAULT;
static_assert(kMutex.counter == -1 && kMutex.sema == nullptr,
              "__GTHREAD_MUTEX_INIT_DEFAULT changed");
constexpr __gthread_recursive_mutex_t kRecursive = __GTHREAD_RECURSIVE_MUTEX_INIT_DEFAULT;
static_assert(kRecursive.counter == -1 && kRecursive.depth == 0 && kRecursive.owner == 0 &&
                  kRecursive.sema == nullptr,
              "__GTHREAD_RECURSIVE_MUTEX_INIT_DEFAULT changed");

// The entry points as runtime.cpp defines them.
#define SV_SAME_TYPE(name, type) \
  static_assert(std::is_same_v<decltype(name), type>, #name " changed its signature")
SV_SAME_TYPE(__gthr_win32_once, int(__gthread_once_t*, void (*)()));
SV_SAME_TYPE(__gthr_win32_key_create, int(__gthread_key_t*, void (*)(void*)));
SV_SAME_TYPE(__gthr_win32_key_delete, int(__gthread_key_t));
SV_SAME_TYPE(__gthr_win32_getspecific, void*(__gthread_key_t));
SV_SAME_TYPE(__gthr_win32_setspecific, int(__gthread_key_t, const void*));
SV_SAME_TYPE(__gthr_win32_mutex_init_function, void(__gthread_mutex_t*));
SV_SAME_TYPE(__gthr_win32_mutex_lock, int(__gthread_mutex_t*));
SV_SAME_TYPE(__gthr_win32_mutex_trylock, int(__gthread_mutex_t*));
SV_SAME_TYPE(__gthr_win32_mutex_unlock, int(__gthread_mutex_t*));
SV_SAME_TYPE(__gthr_win32_mutex_destroy, void(__gthread_mutex_t*));
SV_SAME_TYPE(__gthr_win32_recursive_mutex_init_function, void(__gthread_recursive_mutex_t*));
SV_SAME_TYPE(__gthr_win32_recursive_mutex_lock, int(__gthread_recursive_mutex_t*));
SV_SAME_TYPE(__gthr_win32_recursive_mutex_trylock, int(__gthread_recursive_mutex_t*));
SV_SAME_TYPE(__gthr_win32_recursive_mutex_unlock, int(__gthread_recursive_mutex_t*));
SV_SAME_TYPE(__gthr_win32_recursive_mutex_destroy, int(__gthread_recursive_mutex_t*));
SV_SAME_TYPE(__mingwthr_key_dtor, int(unsigned long, void (*)(void*)));
static_assert(std::is_same_v<__gthread_key_t, unsigned long>, "__gthread_key_t changed");

// The compiler's thread-local descriptors are four words.
static_assert(sizeof(layout::EmutlsObject) == 4 * sizeof(void*));
