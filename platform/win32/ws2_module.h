// The socket library that start() loaded, for the receiving side's entries
// (net_receive.cpp), which bind their functions from the same module.
#pragma once

namespace sv::net::win32 {

// WS2_32.DLL's module handle while the library is started, else null.
void* ws2_module();

}  // namespace sv::net::win32
