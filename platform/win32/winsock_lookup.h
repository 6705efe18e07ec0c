// Which name lookup the win32 socket layer uses, for tests of both paths.
#pragma once

namespace sv::net::win32 {

// True once the library is started and GetAddrInfoW, GetNameInfoW and
// FreeAddrInfoW were all found; gethostbyname serves otherwise.
bool uses_getaddrinfo();
// Forces gethostbyname (false) or restores what start-up found (true).
void allow_getaddrinfo(bool allow);

}  // namespace sv::net::win32
