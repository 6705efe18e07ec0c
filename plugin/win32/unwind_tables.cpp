// The DLL's unwind tables stay with the DLL's own unwinder, whatever else
// the host's process holds.
//
// The DLL links libgcc statically, and every C++ exception inside it is
// unwound by that copy, which finds a frame only through the unwind tables
// registered with it. The toolchain's start-up object (crtbegin.o) registers
// the DLL's tables at attach, but first asks GetModuleHandleA whether the
// toolchain's shared libgcc is in the process; if it is, the tables go to
// that DLL instead, and crtbegin.o takes a reference on it. In a host that
// held it (any block or tool built with MinGW's shared runtime brings it)
// the DLL's own unwinder then found none of the DLL's frames: every throw,
// even one caught a few lines further on, ended in std::terminate and took
// the host down.
//
// So the DLL's import slot of GetModuleHandleA is its own (as runtime.cpp
// does for the functions that make locks): asked for the shared libgcc it
// answers "not loaded", and crtbegin.o registers the tables with the static
// unwinder in every order of loading, deregisters them from it at detach,
// and takes no reference, so the host may unload its libgcc before the DLL.
// Any other name goes to the system's GetModuleHandleA. crtbegin.o reads the
// slot directly; code that called GetModuleHandleA through the import
// library's stub would pull in a second definition of the slot and fail the
// link.
#include <windows.h>

namespace {

// The name crtbegin.o asks for: the shared libgcc of this toolchain
// (DWARF-2 exceptions).
constexpr char kSharedLibgcc[] = "libgcc_s_dw2-1.dll";

bool is_shared_libgcc(const char* name) {
  if (!name) return false;
  const char* want = kSharedLibgcc;
  for (; *name && *want; ++name, ++want) {
    char c = *name;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *want) return false;
  }
  return *name == '\0' && *want == '\0';
}

using GetModuleHandleAFn = HMODULE(WINAPI*)(LPCSTR);

HMODULE WINAPI module_handle_without_shared_libgcc(LPCSTR name) {
  if (is_shared_libgcc(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Constant-initialised, so without a guard: this runs before the DLL's
  // constructors.
  static GetModuleHandleAFn system = nullptr;
  if (!system)
    system = reinterpret_cast<GetModuleHandleAFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetModuleHandleA")));
  return system(name);
}

}  // namespace

// The DLL's import slot of GetModuleHandleA, which the linker would
// otherwise fill from the system's import library.
extern "C" GetModuleHandleAFn sv_module_handle_import __asm__("__imp__GetModuleHandleA@4");
GetModuleHandleAFn sv_module_handle_import = &module_handle_without_shared_libgcc;
