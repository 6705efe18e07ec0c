// Windows Sockets error codes, the numbers every socket failure is reported
// in on both builds: 10000 plus the BSD error number of the condition, and
// the name-lookup codes. Each code is written once, in SV_WSA_CODES, with the
// text a socket failure shows for it ("" for none): a code without a text
// does not compile, and two codes of one number do not either (the texts
// are a switch, in base/errors.cpp). The POSIX edge maps errno onto these
// names (platform/posix/wsa_errno.h).
#pragma once

// X(name, number, text)
#define SV_WSA_CODES(X)                                                            \
  X(kNotEnoughMemory, 8, u"") /* a lookup ran out of memory */                     \
  X(kEintr, 10004, u"Interrupted system call.")                                    \
  X(kEbadf, 10009, u"Bad file number.")                                            \
  X(kEacces, 10013, u"Access denied.")                                             \
  X(kEfault, 10014, u"Buffer fault.")                                              \
  X(kEinval, 10022, u"Invalid argument.")                                          \
  X(kEmfile, 10024, u"Too many open files.")                                       \
  X(kEwouldblock, 10035, u"Operation would block.")                                \
  X(kEinprogress, 10036, u"Operation now in progress.")                            \
  X(kEalready, 10037, u"Operation already in progress.")                           \
  X(kEnotsock, 10038, u"Socket operation on non-socket.")                          \
  X(kEdestaddrreq, 10039, u"Destination address required.")                        \
  X(kEmsgsize, 10040, u"Message too long.") /* larger than the transport allows */ \
  X(kEprototype, 10041, u"Protocol wrong type for socket.")                        \
  X(kEnoprotoopt, 10042, u"Bad protocol option.")                                  \
  X(kEprotonosupport, 10043, u"Protocol not supported.")                           \
  X(kEsocktnosupport, 10044, u"Socket type not supported.")                        \
  X(kEopnotsupp, 10045, u"Operation not supported on socket.")                     \
  X(kEpfnosupport, 10046, u"Protocol family not supported.")                       \
  X(kEafnosupport, 10047, u"Address family not supported by protocol family.")     \
  X(kEaddrinuse, 10048, u"Address already in use.")                                \
  X(kEaddrnotavail, 10049, u"Cannot assign requested address.")                    \
  X(kEnetdown, 10050, u"Network is down.")                                         \
  X(kEnetunreach, 10051, u"Network is unreachable.")                               \
  X(kEnetreset, 10052, u"Net dropped connection or reset.")                        \
  X(kEconnaborted, 10053, u"Software caused connection abort.")                    \
  X(kEconnreset, 10054, u"Connection reset by peer.")                              \
  X(kEnobufs, 10055, u"No buffer space available.")                                \
  X(kEisconn, 10056, u"Socket is already connected.")                              \
  X(kEnotconn, 10057, u"Socket is not connected.")                                 \
  X(kEshutdown, 10058, u"Cannot send or receive after socket is closed.")          \
  X(kEtoomanyrefs, 10059, u"Too many references, cannot splice.")                  \
  X(kEtimedout, 10060, u"Connection timed out.")                                   \
  X(kEconnrefused, 10061, u"Connection refused.")                                  \
  X(kEloop, 10062, u"Too many levels of symbolic links.")                          \
  X(kEnametoolong, 10063, u"File name too long.")                                  \
  X(kEhostdown, 10064, u"Host is down.")                                           \
  X(kEhostunreach, 10065, u"No route to host.")                                    \
  X(kEnotempty, 10066, u"Directory not empty")                                     \
  X(kTypeNotFound, 10109, u"") /* the service is not known */                      \
  X(kHostNotFound, 11001, u"Host not found.")                                      \
  X(kTryAgain, 11002, u"")                                                         \
  X(kNoRecovery, 11003, u"")                                                       \
  X(kNoData, 11004, u"") /* the name is valid but has no address of the family */

namespace sv::wsa {

#define SV_WSA_ENUMERATOR(name, number, text) name = number,
enum Code : int { SV_WSA_CODES(SV_WSA_ENUMERATOR) };
#undef SV_WSA_ENUMERATOR

#define SV_WSA_CODE(name, number, text) name,
inline constexpr Code kAll[] = {SV_WSA_CODES(SV_WSA_CODE)};
#undef SV_WSA_CODE

}  // namespace sv::wsa
