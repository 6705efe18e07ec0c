// The C++ runtime's thread services, owned by the DLL so that an unload
// gives everything back.
//
// What it replaces, at link time (the DLL's own objects come before the
// runtime's archives, so the archives' versions are never pulled in):
//   - __emutls_*: every thread_local of the DLL and the runtime's
//     per-thread exception state, under one TLS index of the DLL's own;
//   - __gthr_win32_*: the runtime's once, keys and locks, whose semaphores
//     are made only when two threads contend, and are then closed at
//     unload;
//   - the DLL's import slot of CreateSemaphoreW, through which the
//     unwinder's lock makes a semaphore at every load with inline code.
// Why: the DLL links the toolchain's runtime statically, and a host may load
// and unload it many times in one process. That runtime was written for a
// program that lives as long as its process: its thread-local storage takes
// a TLS index that it never frees, and its locks create semaphores that they
// never close. Every load/unload cycle thus lost a TLS index (the process
// has about a thousand; then the runtime aborts the host), a semaphore and
// some memory. The DLL links the runtime of the "win32" thread model for
// this; the "posix" one routes the same services through a threads library
// whose state cannot be given back at all.
// What breaks when the toolchain changes: this file copies private layouts
// (runtime_layout.h) and relies on the runtime's entry points and on how the
// unwinder makes its lock. A changed layout corrupts the runtime's locks and
// thread-local data; a new entry point pulls the archive's own versions in
// beside these; another way of making the unwinder's lock leaks a semaphore
// per load. None of it is a compile error, so cmake/RuntimeProbe.cmake checks
// all of it when the win32 build is configured, and stops the configure
// naming this file.
#include "plugin/win32/runtime.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "plugin/win32/runtime_layout.h"

namespace __gnu_cxx {
// Frees the runtime's emergency exception pool (libstdc++ offers it for
// leak checkers).
void __freeres() noexcept;
}  // namespace __gnu_cxx

extern "C" int __mingwthr_key_dtor(DWORD key, void (*dtor)(void*));

namespace {

using sv::win32::runtime_layout::EmutlsObject;
using sv::win32::runtime_layout::GthreadMutex;
using sv::win32::runtime_layout::GthreadOnce;
using sv::win32::runtime_layout::GthreadRecursiveMutex;

// ---- what the DLL took, for the unload ------------------------------------

// A tiny lock for the lists below: they change only when threads contend
// for a runtime lock or a key is made, so spinning costs nothing.
volatile LONG g_list_lock = 0;

struct ListLock {
  ListLock() {
    while (InterlockedExchange(&g_list_lock, 1) != 0) Sleep(0);
  }
  ~ListLock() { InterlockedExchange(&g_list_lock, 0); }
};

// Every semaphore the DLL's runtime makes. The unwinder's lock makes one at
// every load with its own inline code, so the DLL's import of
// CreateSemaphoreW itself is taken over (below): each call is counted here.
struct Semaphore {
  HANDLE value;
  Semaphore* next;
};
Semaphore* g_semaphores = nullptr;

struct Key {
  DWORD value;
  Key* next;
};
Key* g_keys = nullptr;

void* system_alloc(std::size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void system_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }

// Counts a new one: pushes a node on the list.
template <class Node, class Value>
void count(Node*& list, Value value) {
  if (auto* node = static_cast<Node*>(system_alloc(sizeof(Node)))) {
    ListLock lock;
    *node = {value, list};
    list = node;
  }
}

// Stops counting one: unlinks its node.
template <class Node, class Value>
void uncount(Node*& list, Value value) {
  ListLock lock;
  for (Node** p = &list; *p; p = &(*p)->next) {
    if ((*p)->value == value) {
      Node* gone = *p;
      *p = gone->next;
      system_free(gone);
      return;
    }
  }
}

using CreateSemaphoreFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);

HANDLE WINAPI counted_create_semaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                       LPCWSTR name) {
  // No function-local static: its guard would take one of these locks.
  static CreateSemaphoreFn create = nullptr;
  if (!create)
    create = reinterpret_cast<CreateSemaphoreFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSemaphoreW")));
  HANDLE handle = create(attributes, initial, maximum, name);
  if (handle) count(g_semaphores, handle);
  return handle;
}

// Closes a semaphore and stops counting it.
void close_counted(HANDLE handle) {
  uncount(g_semaphores, handle);
  CloseHandle(handle);
}

// A lock's semaphore, made on first contention.
HANDLE semaphore_of(void* volatile* slot) {
  if (void* s = *slot) return static_cast<HANDLE>(s);
  HANDLE fresh = CreateSemaphoreW(nullptr, 0, 65535, nullptr);
  if (!fresh) return nullptr;
  if (void* seen = InterlockedCompareExchangePointer(const_cast<void**>(slot), fresh, nullptr)) {
    close_counted(fresh);  // another thread made it first
    return static_cast<HANDLE>(seen);
  }
  return fresh;
}

// A lock going away: its semaphore, if contention made one.
void forget_semaphore(void* volatile* slot) {
  if (HANDLE handle =
          static_cast<HANDLE>(InterlockedExchangePointer(const_cast<void**>(slot), nullptr)))
    close_counted(handle);
}

// ---- thread-local storage ---------------------------------------------------

// A thread's blocks, indexed by offset - 1.
struct Blocks {
  std::uintptr_t count;
  void* block[1];
};

constexpr DWORD kNoIndex = TLS_OUT_OF_INDEXES;
volatile LONG g_tls_index = static_cast<LONG>(kNoIndex);
volatile LONG g_offsets = 0;

DWORD tls_index() {
  const LONG index = g_tls_index;
  if (index != static_cast<LONG>(kNoIndex)) return static_cast<DWORD>(index);
  const DWORD fresh = TlsAlloc();
  if (fresh == kNoIndex) std::abort();
  const LONG seen = InterlockedCompareExchange(&g_tls_index, static_cast<LONG>(fresh),
                                               static_cast<LONG>(kNoIndex));
  if (seen == static_cast<LONG>(kNoIndex)) return fresh;
  TlsFree(fresh);  // another thread was first
  return static_cast<DWORD>(seen);
}

// One variable's block: aligned, initialised from its template, with the
// allocation's own address in the word before it.
void* allocate_block(const EmutlsObject* obj) {
  const std::uintptr_t align = obj->align > sizeof(void*) ? obj->align : sizeof(void*);
  auto* raw = static_cast<char*>(std::malloc(obj->size + align + sizeof(void*)));
  if (!raw) std::abort();
  const auto at =
      (reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*) + align - 1) & ~(align - 1);
  void* block = reinterpret_cast<void*>(at);
  static_cast<void**>(block)[-1] = raw;
  if (obj->templ) std::memcpy(block, obj->templ, obj->size);
  else std::memset(block, 0, obj->size);
  return block;
}

void free_blocks(Blocks* blocks) {
  if (!blocks) return;
  for (std::uintptr_t i = 0; i < blocks->count; ++i)
    if (blocks->block[i]) std::free(static_cast<void**>(blocks->block[i])[-1]);
  std::free(blocks);
}

}  // namespace

// ---- the runtime's entry points ---------------------------------------------

// The DLL's import slot of CreateSemaphoreW, which the linker would
// otherwise fill from the system's import library.
extern "C" CreateSemaphoreFn sv_create_semaphore_import __asm__("__imp__CreateSemaphoreW@16");
CreateSemaphoreFn sv_create_semaphore_import = &counted_create_semaphore;

extern "C" {

void* __emutls_get_address(EmutlsObject* obj) {
  std::uintptr_t offset = obj->loc.offset;
  if (offset == 0) {
    const auto fresh = static_cast<std::uintptr_t>(InterlockedIncrement(&g_offsets));
    const LONG seen = InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&obj->loc.offset),
                                                 static_cast<LONG>(fresh), 0);
    offset = seen == 0 ? fresh : static_cast<std::uintptr_t>(seen);
  }
  const DWORD index = tls_index();
  auto* blocks = static_cast<Blocks*>(TlsGetValue(index));
  if (!blocks || blocks->count < offset) {
    const std::uintptr_t old = blocks ? blocks->count : 0;
    const std::uintptr_t count = offset + 8;
    auto* grown =
        static_cast<Blocks*>(std::realloc(blocks, sizeof(Blocks) + (count - 1) * sizeof(void*)));
    if (!grown) std::abort();
    std::memset(&grown->block[old], 0, (count - old) * sizeof(void*));
    grown->count = count;
    blocks = grown;
    TlsSetValue(index, blocks);
  }
  void*& block = blocks->block[offset - 1];
  if (!block) block = allocate_block(obj);
  return block;
}

void __emutls_register_common(EmutlsObject* obj, std::uintptr_t size, std::uintptr_t align,
                              void* templ) {
  if (obj->size < size) {
    obj->size = size;
    obj->templ = nullptr;
  }
  if (obj->align < align) obj->align = align;
  if (templ && size == obj->size) obj->templ = templ;
}

int __gthr_win32_once(GthreadOnce* once, void (*func)()) {
  if (!once || !func) return EINVAL;
  if (!once->done) {
    if (InterlockedIncrement(&once->started) == 0) {
      func();
      once->done = TRUE;
    } else {
      while (!*static_cast<volatile int*>(&once->done)) Sleep(0);
    }
  }
  return 0;
}

int __gthr_win32_key_create(DWORD* key, void (*dtor)(void*)) {
  const DWORD index = TlsAlloc();
  if (index == kNoIndex) return static_cast<int>(GetLastError());
  *key = index;
  count(g_keys, index);
  // The C runtime runs the destructors of a thread's values when it ends.
  return dtor ? __mingwthr_key_dtor(index, dtor) : 0;
}

int __gthr_win32_key_delete(DWORD key) {
  uncount(g_keys, key);
  return TlsFree(key) ? 0 : static_cast<int>(GetLastError());
}

void* __gthr_win32_getspecific(DWORD key) {
  const DWORD last_error = GetLastError();
  void* value = TlsGetValue(key);
  SetLastError(last_error);
  return value;
}

int __gthr_win32_setspecific(DWORD key, const void* value) {
  return TlsSetValue(key, const_cast<void*>(value)) ? 0 : static_cast<int>(GetLastError());
}

void __gthr_win32_mutex_init_function(GthreadMutex* m) {
  m->counter = -1;
  m->sema = nullptr;
}

void __gthr_win32_mutex_destroy(GthreadMutex* m) { forget_semaphore(&m->sema); }

int __gthr_win32_mutex_lock(GthreadMutex* m) {
  if (InterlockedIncrement(&m->counter) == 0) return 0;
  HANDLE s = semaphore_of(&m->sema);
  if (s && WaitForSingleObject(s, INFINITE) == WAIT_OBJECT_0) return 0;
  InterlockedDecrement(&m->counter);
  return 1;
}

int __gthr_win32_mutex_trylock(GthreadMutex* m) {
  return InterlockedCompareExchange(&m->counter, 0, -1) < 0 ? 0 : 1;
}

int __gthr_win32_mutex_unlock(GthreadMutex* m) {
  if (InterlockedDecrement(&m->counter) < 0) return 0;
  HANDLE s = semaphore_of(&m->sema);
  return s && ReleaseSemaphore(s, 1, nullptr) ? 0 : 1;
}

void __gthr_win32_recursive_mutex_init_function(GthreadRecursiveMutex* m) {
  m->counter = -1;
  m->depth = 0;
  m->owner = 0;
  m->sema = nullptr;
}

int __gthr_win32_recursive_mutex_lock(GthreadRecursiveMutex* m) {
  const DWORD me = GetCurrentThreadId();
  if (InterlockedIncrement(&m->counter) == 0) {
    m->depth = 1;
    m->owner = me;
  } else if (m->owner == me) {
    InterlockedDecrement(&m->counter);
    ++m->depth;
  } else {
    HANDLE s = semaphore_of(&m->sema);
    if (!s || WaitForSingleObject(s, INFINITE) != WAIT_OBJECT_0) {
      InterlockedDecrement(&m->counter);
      return 1;
    }
    m->depth = 1;
    m->owner = me;
  }
  return 0;
}

int __gthr_win32_recursive_mutex_trylock(GthreadRecursiveMutex* m) {
  const DWORD me = GetCurrentThreadId();
  if (InterlockedCompareExchange(&m->counter, 0, -1) < 0) {
    m->depth = 1;
    m->owner = me;
  } else if (m->owner == me) {
    ++m->depth;
  } else {
    return 1;
  }
  return 0;
}

int __gthr_win32_recursive_mutex_unlock(GthreadRecursiveMutex* m) {
  if (--m->depth == 0) {
    m->owner = 0;
    if (InterlockedDecrement(&m->counter) >= 0) {
      HANDLE s = semaphore_of(&m->sema);
      return s && ReleaseSemaphore(s, 1, nullptr) ? 0 : 1;
    }
  }
  return 0;
}

int __gthr_win32_recursive_mutex_destroy(GthreadRecursiveMutex* m) {
  forget_semaphore(&m->sema);
  return 0;
}

}  // extern "C"

namespace sv::win32 {

void release_thread_runtime() {
  const LONG index = g_tls_index;
  if (index == static_cast<LONG>(kNoIndex)) return;
  free_blocks(static_cast<Blocks*>(TlsGetValue(static_cast<DWORD>(index))));
  TlsSetValue(static_cast<DWORD>(index), nullptr);
}

void release_runtime() {
  release_thread_runtime();
  const LONG index = InterlockedExchange(&g_tls_index, static_cast<LONG>(kNoIndex));
  if (index != static_cast<LONG>(kNoIndex)) TlsFree(static_cast<DWORD>(index));
  __gnu_cxx::__freeres();
  // The runtime's locks are not used again with contention after this:
  // nothing of the DLL runs on other threads once it unloads.
  ListLock lock;
  while (Semaphore* s = g_semaphores) {
    g_semaphores = s->next;
    CloseHandle(s->value);
    system_free(s);
  }
  while (Key* k = g_keys) {
    g_keys = k->next;
    TlsFree(k->value);
    system_free(k);
  }
}

}  // namespace sv::win32
