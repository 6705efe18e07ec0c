// Catching a plug-in's structured exception in a mingw program.
//
// The guard pushes an exception registration record onto the thread's SEH
// chain (fs:0) by hand. Its handler copies the exception's code and
// arguments into the record and jumps back into the guard with
// __builtin_longjmp; the guard then takes its record off the chain again.
// The plug-in raises only from the outermost frame of an export, after every
// C++ object of the call is gone, so abandoning the frames in between is safe.
#include "system/guard.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/text.h"
#include "platform/codepage.h"

namespace svhost {
namespace {

struct Registration {
  // The two words the system reads: the next record and the handler.
  Registration* next;
  void* handler;
  // Ours.
  void* jump[5];
  DWORD code;
  DWORD argument_count;
  ULONG_PTR arguments[EXCEPTION_MAXIMUM_PARAMETERS];
};

Registration* chain_head() {
  Registration* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void set_chain_head(Registration* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

bool catches(DWORD code) {
  // Our failure, and any error a plug-in may cause (access violation, a
  // trapped floating-point fault, ...). Warnings and informational codes go
  // on to the handlers above.
  return code == SV_FAILURE_EXCEPTION_CODE || (code & 0xC0000000u) == 0xC0000000u;
}

extern "C" EXCEPTION_DISPOSITION __cdecl guard_handler(EXCEPTION_RECORD* record, void* frame,
                                                       CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  if (!catches(record->ExceptionCode)) return ExceptionContinueSearch;
  auto* reg = static_cast<Registration*>(frame);
  reg->code = record->ExceptionCode;
  reg->argument_count = record->NumberParameters;
  if (reg->argument_count > EXCEPTION_MAXIMUM_PARAMETERS)
    reg->argument_count = EXCEPTION_MAXIMUM_PARAMETERS;
  for (DWORD i = 0; i < reg->argument_count; ++i)
    reg->arguments[i] = record->ExceptionInformation[i];
  __builtin_longjmp(reg->jump, 1);
}

// Not inlined or analysed across calls: the setjmp point and the record must
// belong to one live frame, and the compiler must assume the call may come
// back through the jump.
__attribute__((noipa)) bool run_with_frame(Registration* reg, void (*thunk)(void*), void* ctx) {
  if (__builtin_setjmp(reg->jump) == 0) {
    reg->next = chain_head();
    reg->handler = reinterpret_cast<void*>(&guard_handler);
    set_chain_head(reg);
    thunk(ctx);
    set_chain_head(reg->next);
    return true;
  }
  // Back from the handler: the chain still lists the system's dispatch
  // records of the abandoned frames, and ours.
  set_chain_head(reg->next);
  return false;
}

std::string describe(const Registration& reg) {
  if (reg.code == SV_FAILURE_EXCEPTION_CODE && reg.argument_count >= 2 && reg.arguments[0])
    return std::string(reinterpret_cast<const char*>(reg.arguments[0]),
                       static_cast<std::size_t>(reg.arguments[1]));
  char text[64];
  std::snprintf(text, sizeof text, "structured exception 0x%08lX",
                static_cast<unsigned long>(reg.code));
  return text;
}

}  // namespace

bool call_guarded(GetLastFailureDLL_fn, void (*thunk)(void*), void* ctx, std::string* failure,
                  std::uint32_t* raised) {
  Registration reg{};
  if (raised) *raised = 0;
  if (run_with_frame(&reg, thunk, ctx)) return true;
  if (raised) *raised = reg.code;
  if (reg.code != SV_FAILURE_EXCEPTION_CODE) {
    // A trapped x87 fault leaves the unit with pending exceptions.
    asm volatile("fnclex");
  }
  if (failure) *failure = describe(reg);
  return false;
}

std::string failure_text_to_utf8(std::string_view text) {
  return sv::utf8(sv::platform::from_ansi(text));
}

}  // namespace svhost
