// Windows Sockets, loaded at run time: the DLL does not import WS2_32.DLL, so
// it loads in a host that never sends anything, and a failing socket library
// becomes an error of the first sender instead of a failed load.
#include "platform/net.h"

#include <winsock2.h>

#include <windows.h>

#include <ws2tcpip.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/win32/wide.h"
#include "platform/win32/ws2.h"

namespace sv::net {
namespace {

using WSAStartup_t = int(WSAAPI*)(WORD, LPWSADATA);
using WSACleanup_t = int(WSAAPI*)();
using WSAGetLastError_t = int(WSAAPI*)();
using socket_t = SOCKET(WSAAPI*)(int, int, int);
using bind_t = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using getsockname_t = int(WSAAPI*)(SOCKET, sockaddr*, int*);
using setsockopt_t = int(WSAAPI*)(SOCKET, int, int, const char*, int);
using WSAIoctl_t = int(WSAAPI*)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE);
using sendto_t = int(WSAAPI*)(SOCKET, const char*, int, int, const sockaddr*, int);
using shutdown_t = int(WSAAPI*)(SOCKET, int);
using closesocket_t = int(WSAAPI*)(SOCKET);
using gethostbyname_t = hostent*(WSAAPI*)(const char*);
using GetAddrInfoW_t = INT(WSAAPI*)(PCWSTR, PCWSTR, const ADDRINFOW*, PADDRINFOW*);
using FreeAddrInfoW_t = VOID(WSAAPI*)(PADDRINFOW);

// FARPROC is a placeholder type; every entry is cast to its real signature.
template <class Fn>
Fn proc(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

HMODULE g_ws2 = nullptr;
HMODULE g_ipv6 = nullptr;  // Wship6.dll, when WS2_32.DLL lacks GetAddrInfoW
GetAddrInfoW_t g_getaddrinfo = nullptr;
FreeAddrInfoW_t g_freeaddrinfo = nullptr;
bool g_found_getaddrinfo = false;
bool g_allow_getaddrinfo = true;
int g_starts = 0;  // successful starts not yet matched by a stop

using win32::Entry;

Entry<WSAGetLastError_t> e_WSAGetLastError("WSAGetLastError");
Entry<socket_t> e_socket("socket");
Entry<bind_t> e_bind("bind");
Entry<getsockname_t> e_getsockname("getsockname");
Entry<setsockopt_t> e_setsockopt("setsockopt");
Entry<WSAIoctl_t> e_WSAIoctl("WSAIoctl");
Entry<sendto_t> e_sendto("sendto");
Entry<shutdown_t> e_shutdown("shutdown");
Entry<closesocket_t> e_closesocket("closesocket");
Entry<gethostbyname_t> e_gethostbyname("gethostbyname");  // contract only: see lookup_gethostbyname

// No import of htons and friends either: the byte order is fixed.
std::uint16_t net_order(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }

sockaddr_in address_of(Ipv4 address, std::uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = net_order(port);
  std::memcpy(&a.sin_addr, address.b, 4);
  return a;
}

HMODULE load_quietly(const wchar_t* name) {
  // No "cannot find" box from the system while the host runs.
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE m = LoadLibraryW(name);
  DWORD err = GetLastError();
  SetErrorMode(old);
  SetLastError(err);
  return m;
}

bool nt5_or_later() {
  DWORD v = GetVersion();
  return (v & 0x80000000u) == 0 && LOBYTE(LOWORD(v)) >= 5;
}

void find_name_lookup() {
  g_found_getaddrinfo = false;
  if (!nt5_or_later()) return;
  HMODULE from = g_ws2;
  if (!GetProcAddress(from, "GetAddrInfoW")) {
    g_ipv6 = load_quietly(L"Wship6.dll");
    from = g_ipv6;
  }
  if (!from) return;
  auto gai = proc<GetAddrInfoW_t>(GetProcAddress(from, "GetAddrInfoW"));
  auto gni = GetProcAddress(from, "GetNameInfoW");
  auto fai = proc<FreeAddrInfoW_t>(GetProcAddress(from, "FreeAddrInfoW"));
  if (gai && gni && fai) {
    g_getaddrinfo = gai;
    g_freeaddrinfo = fai;
    g_found_getaddrinfo = true;
  }
}

int start() {
  if (g_starts > 0) {
    ++g_starts;
    return 0;
  }
  HMODULE ws2 = load_quietly(L"WS2_32.DLL");
  if (!ws2) {
    DWORD err = GetLastError();
    return err ? static_cast<int>(err) : ERROR_MOD_NOT_FOUND;
  }
  auto startup = proc<WSAStartup_t>(GetProcAddress(ws2, "WSAStartup"));
  if (!startup) {
    FreeLibrary(ws2);
    return ERROR_PROC_NOT_FOUND;
  }
  WSADATA data;
  int rc = startup(0x0202, &data);
  if (rc != 0) {
    FreeLibrary(ws2);
    return rc;
  }
  g_ws2 = ws2;
  find_name_lookup();
  g_starts = 1;
  return 0;
}

void stop() {
  if (!g_ws2 || --g_starts > 0) return;
  if (auto cleanup = proc<WSACleanup_t>(GetProcAddress(g_ws2, "WSACleanup"))) cleanup();
  g_getaddrinfo = nullptr;
  g_freeaddrinfo = nullptr;
  g_found_getaddrinfo = false;
  if (g_ipv6) FreeLibrary(g_ipv6);
  g_ipv6 = nullptr;
  FreeLibrary(g_ws2);
  g_ws2 = nullptr;
}

SocketHandle open_dgram() {
  auto fn = e_socket.get();
  if (!fn) return kNoSocket;
  SOCKET s = fn(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  return static_cast<SocketHandle>(s);
}

int bind_to(SocketHandle s, Ipv4 address, std::uint16_t port) {
  auto fn = e_bind.get();
  if (!fn) return -1;
  sockaddr_in a = address_of(address, port);
  return fn(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&a), 16) == 0 ? 0 : -1;
}

int local_address(SocketHandle s, Ipv4* address, std::uint16_t* port) {
  auto fn = e_getsockname.get();
  if (!fn) return -1;
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  int len = sizeof a;
  if (fn(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  std::memcpy(address->b, &a.sin_addr, 4);
  *port = net_order(a.sin_port);
  return 0;
}

int set_broadcast(SocketHandle s, int on) {
  auto fn = e_setsockopt.get();
  if (!fn) return -1;
  int v = on;
  return fn(static_cast<SOCKET>(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&v),
            4) == 0
             ? 0
             : -1;
}

// The control codes of <mswsock.h>, which has only the first.
constexpr DWORD kSioUdpConnReset = _WSAIOW(IOC_VENDOR, 12);
constexpr DWORD kSioUdpNetReset = _WSAIOW(IOC_VENDOR, 15);

int set_icmp_report(SocketHandle s, IcmpReport report, int on) {
  auto fn = e_WSAIoctl.get();
  if (!fn) return -1;
  BOOL value = on ? TRUE : FALSE;
  DWORD returned = 0;
  const DWORD code = report == IcmpReport::PortUnreachable ? kSioUdpConnReset : kSioUdpNetReset;
  return fn(static_cast<SOCKET>(s), code, &value, sizeof value, nullptr, 0, &returned, nullptr,
            nullptr) == 0
             ? 0
             : -1;
}

std::intptr_t send_to(SocketHandle s, const void* data, std::size_t size, const SocketAddress* to) {
  auto fn = e_sendto.get();
  if (!fn) return -1;
  int n = fn(static_cast<SOCKET>(s), static_cast<const char*>(data), static_cast<int>(size), 0,
             reinterpret_cast<const sockaddr*>(to->bytes), sizeof(sockaddr_in));
  return n == SOCKET_ERROR ? -1 : n;
}

void shutdown_close(SocketHandle s) {
  if (auto fn = e_shutdown.get()) fn(static_cast<SOCKET>(s), SD_SEND);
  if (auto fn = e_closesocket.get()) fn(static_cast<SOCKET>(s));
}

int last_error() {
  // Winsock keeps its error where GetLastError finds it; asking Winsock is
  // still the documented way.
  DWORD fallback = GetLastError();
  if (auto fn = e_WSAGetLastError.get()) return fn();
  return static_cast<int>(fallback);
}

LookupResult lookup_getaddrinfo(std::u16string_view name) {
  const std::wstring w = platform::wide(name);
  ADDRINFOW hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  PADDRINFOW list = nullptr;
  INT rc = g_getaddrinfo(w.c_str(), nullptr, &hints, &list);
  // GetAddrInfoW reports Windows Sockets codes already; they pass unchanged.
  if (rc != 0) {
    if (list) g_freeaddrinfo(list);
    return {LookupStatus::SocketError, {}, static_cast<int>(rc)};
  }
  LookupResult r{LookupStatus::SocketError, {}, WSANO_DATA};
  for (PADDRINFOW p = list; p; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addr) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
      std::memcpy(r.address.b, &in->sin_addr, 4);
      r.status = LookupStatus::Ok;
      r.code = 0;
      break;
    }
  }
  if (list) g_freeaddrinfo(list);
  return r;
}

// Contract only: the fallback for a system without GetAddrInfoW, which every supported one has.
LookupResult lookup_gethostbyname(std::u16string_view name) {
  auto fn = e_gethostbyname.get();
  if (!fn) return {LookupStatus::SocketError, {}, last_error()};
  std::string ansi = platform::to_ansi(name);
  hostent* h = fn(ansi.c_str());
  if (!h) return {LookupStatus::SocketError, {}, last_error()};
  if (h->h_addrtype != AF_INET || h->h_length != 4 || !h->h_addr_list || !h->h_addr_list[0])
    return {LookupStatus::SocketError, {}, WSANO_DATA};
  LookupResult r{LookupStatus::Ok, {}, 0};
  std::memcpy(r.address.b, h->h_addr_list[0], 4);
  return r;
}

LookupResult lookup(std::u16string_view name) {
  if (g_found_getaddrinfo && g_allow_getaddrinfo) return lookup_getaddrinfo(name);
  return lookup_gethostbyname(name);
}

constexpr Api kPlatform{start,          stop,          open_dgram,      bind_to,
                        local_address,  set_broadcast, set_icmp_report, send_to,
                        shutdown_close, last_error,    lookup};

static_assert(sizeof(sockaddr_in) == sizeof(SocketAddress));

}  // namespace

SocketAddress socket_address(Ipv4 address, std::uint16_t port) {
  sockaddr_in a = address_of(address, port);
  SocketAddress r;
  std::memcpy(r.bytes, &a, sizeof a);
  return r;
}

namespace detail {
Api g_api = kPlatform;
}
const Api& platform_api() { return kPlatform; }

namespace win32 {
void* ws2_module() { return g_ws2; }

void* bind(const char* name, Binding& binding) {
  void* module = g_ws2;
  if (!module) {
    SetLastError(WSANOTINITIALISED);
    return nullptr;
  }
  if (binding.from.load(std::memory_order_acquire) != module) {
    const DWORD err = GetLastError();
    void* fn = reinterpret_cast<void*>(GetProcAddress(g_ws2, name));
    if (!fn) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    binding.fn.store(fn, std::memory_order_relaxed);
    binding.from.store(module, std::memory_order_release);
    SetLastError(err);
  }
  return binding.fn.load(std::memory_order_relaxed);
}

bool uses_getaddrinfo() { return g_found_getaddrinfo && g_allow_getaddrinfo; }
void allow_getaddrinfo(bool allow) { g_allow_getaddrinfo = allow; }
}  // namespace win32

}  // namespace sv::net
