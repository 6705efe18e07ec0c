// What the statically linked C++ runtime takes from the host's process,
// given back when the DLL unloads.
//
// The toolchain's runtime (libgcc, libstdc++, the C runtime's start-up) was
// written for a program that lives as long as its process: its thread-local
// storage takes a TLS index that it never frees, its locks make semaphores
// or critical sections that it never closes or deletes, and its emergency
// exception pool is never freed. A host that loads and unloads the DLL again
// and again lost a TLS index, locks and memory at every cycle, and then
// crashed (runtime.md beside this file has the figures).
//
// This file works only through interfaces that stay when the toolchain
// changes, never through the runtime's private data:
//   - the compiler's calls for thread-local variables, __emutls_get_address
//     with its descriptor: every thread_local of the DLL, and the runtime's
//     per-thread exception state, live under one TLS index of the DLL's own;
//   - the DLL's import slots of the Win32 functions that make and end the
//     runtime's locks and TLS indices: statically linked code reaches the
//     system only through them, so each one made is counted, each one ended
//     uncounted;
//   - the DLL's entry point: it runs the toolchain's own (DllMain, static
//     destructors, the unwinder's deregistration) and then, once nothing of
//     the runtime runs any more, ends what is still counted and frees the
//     emergency pool (__gnu_cxx::__freeres, which libstdc++ offers for leak
//     checkers).
// cmake/RuntimeProbe.cmake checks what this relies on when the win32 build
// is configured; the reload tests prove the result on each toolchain.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace __gnu_cxx {
void __freeres() noexcept;
}  // namespace __gnu_cxx

// The toolchain's own entry point of a DLL (mingw-w64's C runtime), which
// runs DllMain.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE, DWORD, LPVOID);

namespace {

// ---- what the runtime took --------------------------------------------------

// The lists below change only when a lock or a TLS index is made or ended.
// A slim reader/writer lock needs no making or ending of its own, and a
// thread that waits for it sleeps until it is free: a holder of lower
// priority cannot be starved, as it was by a lock that spun on Sleep(0).
SRWLOCK g_list_lock = SRWLOCK_INIT;

struct ListLock {
  ListLock() { AcquireSRWLockExclusive(&g_list_lock); }
  ~ListLock() { ReleaseSRWLockExclusive(&g_list_lock); }
};

struct Node {
  void* value;
  Node* next;
};
// Every entry lives exactly as long as its object: a handle is closed, and
// an index freed, only through the slots below, which drop its entry; a
// section is counted only when it lies in the DLL's own image, where no
// one can free it without deleting it (one on the heap could be, and the
// unload would then write into freed memory).
Node* g_semaphores = nullptr;  // HANDLE
Node* g_sections = nullptr;    // CRITICAL_SECTION* inside the image
Node* g_indices = nullptr;     // index_value(TLS index)

void count(Node*& list, void* value) {
  if (auto* node = static_cast<Node*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Node)))) {
    ListLock lock;
    *node = {value, list};
    list = node;
  }
}

// Whether it was counted; stops counting it.
bool uncount(Node*& list, void* value) {
  ListLock lock;
  for (Node** p = &list; *p; p = &(*p)->next) {
    if ((*p)->value == value) {
      Node* gone = *p;
      *p = gone->next;
      HeapFree(GetProcessHeap(), 0, gone);
      return true;
    }
  }
  return false;
}

// Takes the first node off a list, or null.
Node* pop(Node*& list) {
  ListLock lock;
  Node* node = list;
  if (node) list = node->next;
  return node;
}

// Ends every one still on a list.
template <class End>
void end_all(Node*& list, End end) {
  while (Node* node = pop(list)) {
    end(node->value);
    HeapFree(GetProcessHeap(), 0, node);
  }
}

// The system's function behind one of the slots below, looked up once into
// a constant-initialised pointer: the slots are used before the DLL's
// constructors run, and a function-local static's guard would take a lock.
template <class Fn>
Fn system_function(Fn& cached, const char* name) {
  if (!cached)
    cached = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
  return cached;
}

// The DLL's own image, as the linker places it: its headers first.
extern "C" const char __ImageBase[];

const IMAGE_NT_HEADERS& image_headers() {
  const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(__ImageBase);
  return *reinterpret_cast<const IMAGE_NT_HEADERS*>(__ImageBase + dos.e_lfanew);
}

bool in_image(const void* p) {
  const auto* at = static_cast<const char*>(p);
  return at >= __ImageBase && at < __ImageBase + image_headers().OptionalHeader.SizeOfImage;
}

using CreateSemaphoreWFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using SectionFn = void(WINAPI*)(LPCRITICAL_SECTION);
using TlsAllocFn = DWORD(WINAPI*)();
using TlsFreeFn = BOOL(WINAPI*)(DWORD);

CreateSemaphoreWFn g_create_semaphore = nullptr;
CloseHandleFn g_close_handle = nullptr;
SectionFn g_initialize_section = nullptr;
SectionFn g_delete_section = nullptr;
TlsAllocFn g_tls_alloc = nullptr;
TlsFreeFn g_tls_free = nullptr;

// A TLS index on a list: plus one, as index 0 is a valid one.
void* index_value(DWORD index) { return reinterpret_cast<void*>(std::uintptr_t{index} + 1); }
DWORD index_of(void* value) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(value) - 1);
}

HANDLE WINAPI counted_create_semaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                       LPCWSTR name) {
  HANDLE handle =
      system_function(g_create_semaphore, "CreateSemaphoreW")(attributes, initial, maximum, name);
  if (handle) count(g_semaphores, handle);
  return handle;
}

BOOL WINAPI counted_close_handle(HANDLE handle) {
  uncount(g_semaphores, handle);
  return system_function(g_close_handle, "CloseHandle")(handle);
}

void WINAPI counted_initialize_section(LPCRITICAL_SECTION section) {
  system_function(g_initialize_section, "InitializeCriticalSection")(section);
  if (in_image(section)) count(g_sections, section);
}

// One of the image's sections is deleted only while it is counted: one the
// unload has already deleted is not deleted twice, whatever runs after it.
void WINAPI counted_delete_section(LPCRITICAL_SECTION section) {
  if (!in_image(section) || uncount(g_sections, section))
    system_function(g_delete_section, "DeleteCriticalSection")(section);
}

DWORD WINAPI counted_tls_alloc() {
  const DWORD index = system_function(g_tls_alloc, "TlsAlloc")();
  if (index != TLS_OUT_OF_INDEXES) count(g_indices, index_value(index));
  return index;
}

// An index the DLL did not allocate, or has freed already, is refused: it
// may by now be another module's.
BOOL WINAPI counted_tls_free(DWORD index) {
  if (!uncount(g_indices, index_value(index))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return system_function(g_tls_free, "TlsFree")(index);
}

// ---- thread-local storage ---------------------------------------------------

// The compiler's description of one thread-local variable (__emutls_v.*),
// which it hands to __emutls_get_address; the probe holds it against the
// compiler's own.
struct EmutlsObject {
  std::uintptr_t size;
  std::uintptr_t align;
  union {
    std::uintptr_t offset;  // 1-based index into a thread's blocks; 0 until first use
    void* ptr;
  } loc;
  void* templ;  // initial bytes, or null for zero
};

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

// The calling thread's blocks.
void release_thread_blocks() {
  const LONG index = g_tls_index;
  if (index == static_cast<LONG>(kNoIndex)) return;
  auto* blocks = static_cast<Blocks*>(TlsGetValue(static_cast<DWORD>(index)));
  if (!blocks) return;
  for (std::uintptr_t i = 0; i < blocks->count; ++i)
    if (blocks->block[i]) std::free(static_cast<void**>(blocks->block[i])[-1]);
  std::free(blocks);
  TlsSetValue(static_cast<DWORD>(index), nullptr);
}

// The image's TLS callbacks (the C runtime's), from its own TLS directory.
void run_tls_callbacks(HANDLE module, DWORD reason) {
  const IMAGE_DATA_DIRECTORY& tls =
      image_headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
  if (!tls.Size) return;
  const auto* dir = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(__ImageBase + tls.VirtualAddress);
  for (auto* cb = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(dir->AddressOfCallBacks); cb && *cb; ++cb)
    (*cb)(module, reason, nullptr);
}

// At unload, once the runtime's own part is over: the calling thread's
// blocks, the emergency pool, and every lock and TLS index still counted.
// Threads still running keep at most their few blocks. Idempotent.
//
// The loader calls the TLS callbacks and the entry point for the detach,
// and the C runtime's callback enters and then deletes a section of its
// own. Wine calls the callbacks first; Windows' order is not documented.
// So the callbacks run here first, for this detach: the C runtime's does
// its work at its first call and nothing at a second one, and whatever
// the loader calls after this finds nothing left to enter.
void release_runtime(HANDLE module) {
  run_tls_callbacks(module, DLL_PROCESS_DETACH);
  release_thread_blocks();
  g_tls_index = static_cast<LONG>(kNoIndex);
  __gnu_cxx::__freeres();
  end_all(g_semaphores, [](void* v) { system_function(g_close_handle, "CloseHandle")(v); });
  end_all(g_sections, [](void* v) {
    system_function(g_delete_section, "DeleteCriticalSection")(static_cast<LPCRITICAL_SECTION>(v));
  });
  end_all(g_indices, [](void* v) { system_function(g_tls_free, "TlsFree")(index_of(v)); });
}

}  // namespace

// ---- the DLL's import slots -------------------------------------------------

// Each one the linker would otherwise fill from the system's import library.
// Code that called one of these functions through the import library's stub
// instead would pull in a second definition of its slot and fail the link.
#define SV_SLOT(type, symbol, function)               \
  extern "C" type sv_slot_##function __asm__(symbol); \
  type sv_slot_##function = &function
SV_SLOT(CreateSemaphoreWFn, "__imp__CreateSemaphoreW@16", counted_create_semaphore);
SV_SLOT(CloseHandleFn, "__imp__CloseHandle@4", counted_close_handle);
SV_SLOT(SectionFn, "__imp__InitializeCriticalSection@4", counted_initialize_section);
SV_SLOT(SectionFn, "__imp__DeleteCriticalSection@4", counted_delete_section);
SV_SLOT(TlsAllocFn, "__imp__TlsAlloc@0", counted_tls_alloc);
SV_SLOT(TlsFreeFn, "__imp__TlsFree@4", counted_tls_free);
#undef SV_SLOT

// ---- the compiler's entry points for thread_local ---------------------------

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

// ---- the DLL's entry point --------------------------------------------------

// Whether the calling thread has thread-local blocks of the DLL: one
// without them has never touched a thread_local of it, and its detach must
// not make them.
bool sv_thread_has_blocks() noexcept {
  const LONG index = g_tls_index;
  return index != static_cast<LONG>(kNoIndex) && TlsGetValue(static_cast<DWORD>(index));
}

// A refused attach gives nothing back itself: the loader calls the entry
// point with DLL_PROCESS_DETACH right after it (Windows documents it, and
// Wine does it), and that detach releases the runtime, as an unload does.
BOOL WINAPI sv_dll_entry(HANDLE module, DWORD reason, LPVOID reserved) {
  const BOOL ok = DllMainCRTStartup(module, reason, reserved);
  switch (reason) {
    case DLL_THREAD_DETACH: release_thread_blocks(); break;
    // At process exit (reserved != null) the system reclaims everything.
    case DLL_PROCESS_DETACH:
      if (!reserved) release_runtime(module);
      break;
    default: break;
  }
  return ok;
}

}  // extern "C"
