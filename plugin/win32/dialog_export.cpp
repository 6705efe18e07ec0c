// The dialog's entry holds the library loaded while the dialog runs. Its
// modal loop dispatches every message of the host's thread, and a host may
// call FreeLibrary from one of them: the reference taken here keeps the
// code mapped until the dialog is gone. Giving it back may then unload the
// library, so no instruction of ours may run after that: the entry leaves
// through FreeLibrary, which returns straight to the host.
#include "plugin/dialog_export.h"

#include <windows.h>

#include <cstdint>

#include "plugin/boundary.h"
#include "udpsv_exports.h"

extern "C" HMODULE __stdcall sv_held_parameter_dialog(void* blockRecord,
                                                      std::uint8_t* inputsByte) noexcept;

namespace {

// References of dialogs that failed. The failure is raised from the
// dialog's frame, and giving the reference back before might unload the
// code that raises; so a host that leaves that frame (the usual answer to
// a failure) has it given back at the next export call, which the host
// makes only while it holds the library.
LONG g_owed = 0;

void give_back_owed() {
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&give_back_owed), &self);
  for (; g_owed > 0; --g_owed) FreeLibrary(self);
}

}  // namespace

// The library's reference for the entry to give back, or null (none taken).
extern "C" HMODULE __stdcall sv_held_parameter_dialog(void* blockRecord,
                                                      std::uint8_t* inputsByte) noexcept {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&sv_held_parameter_dialog), &self);
  if (sv::boundary::run_recorded([&] { sv::parameter_dialog(blockRecord, inputsByte); })) {
    if (self) {
      ++g_owed;
      sv::boundary::at_next_call(give_back_owed);
    }
    sv::boundary::deliver();
    // A host may continue the exception instead: then the call returns, and
    // the entry gives the reference back at once, so it is owed no more.
    if (self) --g_owed;
  }
  return self;
}

// CallParameterDialogDLL(blockRecord, inputsByte), stdcall: calls the above
// with its two arguments. With a reference to give back, it turns its own
// frame into a call of FreeLibrary(reference) by the host: the host's
// return address moves up one slot and the reference takes the last
// argument's, so FreeLibrary's return removes exactly the 8 bytes the
// host's call pushed. No register the host keeps is touched.
asm(R"(
	.text
	.globl	_CallParameterDialogDLL@8
	.def	_CallParameterDialogDLL@8;	.scl	2;	.type	32;	.endef
_CallParameterDialogDLL@8:
	pushl	8(%esp)
	pushl	8(%esp)
	call	_sv_held_parameter_dialog@8
	testl	%eax, %eax
	jz	1f
	popl	%ecx
	movl	%ecx, (%esp)
	movl	%eax, 4(%esp)
	jmp	*__imp__FreeLibrary@4
1:	ret	$8
)");
