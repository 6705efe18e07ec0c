// A wrong plug-in for the self-test's tests: it passes every export on to
// the real plug-in (UDPSV_PROXY_TARGET) and spoils one thing on the way, as
// UDPSV_PROXY_FAULT says:
//   frames   the first input's sign flipped before each frame is sent
//   swallow  a failing run start returns as if it had succeeded
//   fpu      each step leaves the x87 control word at the thread default
//   steps    every step of a block with one input fails with 10054, as on a
//            Windows that reports ICMP answers to the sender
//   pin      the proxy keeps itself loaded (UDPSV_PROXY_SELF, its own path)
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "host/plugin.h"
#include "system/dynlib.h"
#include "system/guard.h"
#include "udpsv_exports.h"

#ifdef _WIN32
#define PROXY_EXPORT
#else
#define PROXY_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr std::size_t kExt80 = 10;
constexpr const char* kConnectionReset = "Socket Error # 10054\r\nConnection reset by peer.";

enum class Fault { None, Frames, Swallow, Fpu, Steps, Pin };

Fault fault() {
  static const Fault f = [] {
    const char* text = std::getenv("UDPSV_PROXY_FAULT");
    const std::string name = text ? text : "";
    return name == "frames"    ? Fault::Frames
           : name == "swallow" ? Fault::Swallow
           : name == "fpu"     ? Fault::Fpu
           : name == "steps"   ? Fault::Steps
           : name == "pin"     ? Fault::Pin
                               : Fault::None;
  }();
  return f;
}

// The real plug-in, loaded at the first call; the proxy's unload unloads it.
struct Real {
  Real() {
    std::string error;
    library = svhost::dynlib::open(std::getenv("UDPSV_PROXY_TARGET"), &error);
    if (!library) std::abort();
#define PROXY_RESOLVE(name, bytes) \
  e.name = reinterpret_cast<name##_fn>(svhost::dynlib::symbol(library, #name));
    SV_EXPORTS(PROXY_RESOLVE)
#undef PROXY_RESOLVE
    if (fault() == Fault::Pin) svhost::dynlib::open(std::getenv("UDPSV_PROXY_SELF"), &error);
  }
  ~Real() { svhost::dynlib::close(library); }
  void* library;
  svhost::Exports e;
};

const svhost::Exports& real() {
  static Real r;
  return r.e;
}

// The failure the proxy itself made of the calling thread's latest call. It
// is raised (win32) from the export's own frame with nothing to destroy, and
// kept in trivial storage: a thread_local with a destructor would keep the
// library from unloading.
thread_local char t_failure[256];
thread_local bool t_own = false;

void fail(const char* text) {
  t_own = true;
  std::strncpy(t_failure, text, sizeof t_failure - 1);
#ifdef _WIN32
  const ULONG_PTR arguments[2] = {reinterpret_cast<ULONG_PTR>(t_failure), std::strlen(t_failure)};
  RaiseException(SV_FAILURE_EXCEPTION_CODE, 0, 2, arguments);
#endif
}

void begin() { t_own = false; }

std::vector<unsigned char> spoiled(const void* inputs) {
  std::vector<unsigned char> copy(static_cast<const unsigned char*>(inputs),
                                  static_cast<const unsigned char*>(inputs) + 256 * kExt80);
  copy[kExt80 - 1] ^= 0x80;
  return copy;
}

int inputs_of(void* block_record) {
  void* user_data;
  std::memcpy(&user_data, static_cast<char*>(block_record) + SV_BLOCK_USER_DATA_SLOT,
              sizeof user_data);
  unsigned char io[4096] = {};
  real().GetNumberOfInputsOutputs2(io, 0, user_data, 0);
  return io[SV_IO_INPUT_COUNT];
}

}  // namespace

extern "C" {

PROXY_EXPORT void SV_CALL IsUserDLL32() noexcept { real().IsUserDLL32(); }
PROXY_EXPORT char* SV_CALL GetDLLName() noexcept { return real().GetDLLName(); }
PROXY_EXPORT int32_t SV_CALL CanSimulateDLL(intptr_t a) noexcept {
  return real().CanSimulateDLL(a);
}
PROXY_EXPORT void SV_CALL GetParameterStruct(void* p) noexcept { real().GetParameterStruct(p); }
PROXY_EXPORT void SV_CALL GetDialogEnableStruct(void* p, intptr_t a) noexcept {
  real().GetDialogEnableStruct(p, a);
}
PROXY_EXPORT void SV_CALL GetNumberOfInputsOutputs2(void* io, intptr_t a, void* u,
                                                    intptr_t b) noexcept {
  begin();
  real().GetNumberOfInputsOutputs2(io, a, u, b);
}
PROXY_EXPORT void SV_CALL InitUserDLL(void* r) noexcept {
  begin();
  real().InitUserDLL(r);
}
PROXY_EXPORT void SV_CALL DisposeUserDLL(void* r) noexcept {
  begin();
  real().DisposeUserDLL(r);
}
PROXY_EXPORT void SV_CALL CallParameterDialogDLL(void* r, uint8_t* b) noexcept {
  begin();
  real().CallParameterDialogDLL(r, b);
}
PROXY_EXPORT void SV_CALL WriteToFile(intptr_t f, void* r) noexcept {
  begin();
  real().WriteToFile(f, r);
}
PROXY_EXPORT void SV_CALL ReadFromFile(intptr_t f, void* r) noexcept {
  begin();
  real().ReadFromFile(f, r);
}

PROXY_EXPORT void SV_CALL InitSimulationDLL(void* r, const void* inputs, intptr_t a) noexcept {
  begin();
  const Fault f = fault();
  if (f == Fault::Frames) {
    const auto copy = spoiled(inputs);
    real().InitSimulationDLL(r, copy.data(), a);
  } else if (f == Fault::Swallow) {
    struct Call {
      void* r;
      const void* inputs;
      intptr_t a;
    } call{r, inputs, a};
    std::string ignored;
    if (!svhost::call_guarded(
            real().GetLastFailureDLL,
            [](void* c) {
              auto* k = static_cast<Call*>(c);
              real().InitSimulationDLL(k->r, k->inputs, k->a);
            },
            &call, &ignored)) {
      t_own = true;
      t_failure[0] = '\0';
    }
  } else {
    real().InitSimulationDLL(r, inputs, a);
  }
}

PROXY_EXPORT void SV_CALL SimulateDLL2(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e,
                                       intptr_t f, void* r, const void* inputs,
                                       intptr_t g) noexcept {
  begin();
  const Fault kind = fault();
  if (kind == Fault::Steps && inputs_of(r) == 1) return fail(kConnectionReset);
  if (kind == Fault::Frames) {
    const auto copy = spoiled(inputs);
    real().SimulateDLL2(a, b, c, d, e, f, r, copy.data(), g);
    return;
  }
  real().SimulateDLL2(a, b, c, d, e, f, r, inputs, g);
  if (kind == Fault::Fpu) {
    const std::uint16_t word = 0x037F;
    asm volatile("fnclex\n\tfldcw %0" : : "m"(word));
  }
}

PROXY_EXPORT void SV_CALL EndSimulationDLL2(void* r) noexcept {
  begin();
  real().EndSimulationDLL2(r);
}

PROXY_EXPORT int32_t SV_CALL GetLastFailureDLL(char* buffer, int32_t size) noexcept {
  if (!t_own) return real().GetLastFailureDLL(buffer, size);
  const int32_t n = static_cast<int32_t>(std::strlen(t_failure));
  if (buffer && size > 0) {
    const int32_t copied = n < size - 1 ? n : size - 1;
    std::memcpy(buffer, t_failure, static_cast<std::size_t>(copied));
    buffer[copied] = '\0';
  }
  return n;
}

}  // extern "C"
