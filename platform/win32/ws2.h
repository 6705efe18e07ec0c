// WS2_32.DLL as start() loaded it: the module, its functions bound by name,
// and which name lookup it offers. The sender's entries (net.cpp) and the
// programs' (system/win32/net.cpp) bind through the same Entry.
#pragma once

#include <atomic>

namespace sv::net::win32 {

// WS2_32.DLL's module handle while the library is started, else null.
void* ws2_module();

// Where an Entry keeps its function and the module it was bound from.
struct Binding {
  std::atomic<void*> fn{nullptr};
  std::atomic<void*> from{nullptr};
};

// The function `name` of WS2_32.DLL as ws2_module() has it now, bound anew
// whenever the module is another than the binding's; null when the library
// is not started (WSANOTINITIALISED) or lacks the function
// (ERROR_PROC_NOT_FOUND), with that cause for GetLastError. A function found
// leaves the thread's last error as it was: the caller may be about to read
// it.
void* bind(const char* name, Binding& binding);

// One WS2_32.DLL function, of its real type.
template <class Fn>
class Entry {
 public:
  explicit constexpr Entry(const char* name) : name_(name) {}
  Fn get() { return reinterpret_cast<Fn>(bind(name_, binding_)); }

 private:
  const char* name_;
  Binding binding_;
};

// True once the library is started and GetAddrInfoW, GetNameInfoW and
// FreeAddrInfoW were all found; gethostbyname serves otherwise.
bool uses_getaddrinfo();
// Forces gethostbyname (false) or restores what start-up found (true), for
// tests of both paths.
void allow_getaddrinfo(bool allow);

}  // namespace sv::net::win32
