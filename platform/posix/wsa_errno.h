// The one table between Linux error numbers and the Windows Sockets codes
// of base/wsa_codes.h, by condition: the socket entries translate errno
// through it, and the error texts translate back. Several numbers may name
// one condition; the first of them is the one a code translates back to.
// Every code has one at least, or this does not compile.
#pragma once

#include <netdb.h>

#include <algorithm>
#include <cerrno>

#include "base/wsa_codes.h"

namespace sv::net::posix {

struct CodePair {
  int os;
  wsa::Code wsa;
};

inline constexpr CodePair kErrnoCodes[] = {
    {EINTR, wsa::kEintr},
    {EBADF, wsa::kEbadf},
    {EACCES, wsa::kEacces},
    {EPERM, wsa::kEacces},
    {EFAULT, wsa::kEfault},
    {EINVAL, wsa::kEinval},
    {EMFILE, wsa::kEmfile},
    {ENFILE, wsa::kEmfile},
    {EWOULDBLOCK, wsa::kEwouldblock},
    {EINPROGRESS, wsa::kEinprogress},
    {EALREADY, wsa::kEalready},
    {ENOTSOCK, wsa::kEnotsock},
    {EDESTADDRREQ, wsa::kEdestaddrreq},
    {EMSGSIZE, wsa::kEmsgsize},
    {EPROTOTYPE, wsa::kEprototype},
    {ENOPROTOOPT, wsa::kEnoprotoopt},
    {EPROTONOSUPPORT, wsa::kEprotonosupport},
    {ESOCKTNOSUPPORT, wsa::kEsocktnosupport},
    {EOPNOTSUPP, wsa::kEopnotsupp},
    {EPFNOSUPPORT, wsa::kEpfnosupport},
    {EAFNOSUPPORT, wsa::kEafnosupport},
    {EADDRINUSE, wsa::kEaddrinuse},
    {EADDRNOTAVAIL, wsa::kEaddrnotavail},
    {ENETDOWN, wsa::kEnetdown},
    {ENETUNREACH, wsa::kEnetunreach},
    {ENETRESET, wsa::kEnetreset},
    {ECONNABORTED, wsa::kEconnaborted},
    {ECONNRESET, wsa::kEconnreset},
    {ENOBUFS, wsa::kEnobufs},
    {ENOMEM, wsa::kEnobufs},
    {EISCONN, wsa::kEisconn},
    {ENOTCONN, wsa::kEnotconn},
    {ESHUTDOWN, wsa::kEshutdown},
    {EPIPE, wsa::kEshutdown},
    {ETOOMANYREFS, wsa::kEtoomanyrefs},
    {ETIMEDOUT, wsa::kEtimedout},
    {ECONNREFUSED, wsa::kEconnrefused},
    {ELOOP, wsa::kEloop},
    {ENAMETOOLONG, wsa::kEnametoolong},
    {EHOSTDOWN, wsa::kEhostdown},
    {EHOSTUNREACH, wsa::kEhostunreach},
    {ENOTEMPTY, wsa::kEnotempty},
};

// Resolver results; any other failure is non-recoverable.
inline constexpr CodePair kLookupCodes[] = {
    {EAI_NONAME, wsa::kHostNotFound},
    {EAI_AGAIN, wsa::kTryAgain},
    {EAI_FAIL, wsa::kNoRecovery},
#ifdef EAI_NODATA
    {EAI_NODATA, wsa::kNoData},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, wsa::kNoData},  // the name has no IPv4 address
#endif
    {EAI_BADFLAGS, wsa::kEinval},
    {EAI_FAMILY, wsa::kEafnosupport},
    {EAI_MEMORY, wsa::kNotEnoughMemory},
    {EAI_SERVICE, wsa::kTypeNotFound},
    {EAI_SOCKTYPE, wsa::kEsocktnosupport},
};

constexpr bool has_condition(wsa::Code code) {
  for (const CodePair& c : kErrnoCodes)
    if (c.wsa == code) return true;
  for (const CodePair& c : kLookupCodes)
    if (c.wsa == code) return true;
  return false;
}
static_assert(std::ranges::all_of(wsa::kAll, has_condition),
              "a Windows Sockets code without its Linux condition");

}  // namespace sv::net::posix
