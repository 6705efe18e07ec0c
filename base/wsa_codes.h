// Windows Sockets error codes, the numbers every socket failure is reported
// in on both builds: 10000 plus the BSD error number of the condition, and
// the name-lookup codes. Each number is written here and nowhere else.
#pragma once

namespace sv::wsa {

enum Code : int {
  kNotEnoughMemory = 8,  // a lookup ran out of memory
  kEintr = 10004,
  kEbadf = 10009,
  kEacces = 10013,
  kEfault = 10014,
  kEinval = 10022,
  kEmfile = 10024,
  kEwouldblock = 10035,
  kEinprogress = 10036,
  kEalready = 10037,
  kEnotsock = 10038,
  kEdestaddrreq = 10039,
  kEmsgsize = 10040,  // the datagram is larger than the transport allows
  kEprototype = 10041,
  kEnoprotoopt = 10042,
  kEprotonosupport = 10043,
  kEsocktnosupport = 10044,
  kEopnotsupp = 10045,
  kEpfnosupport = 10046,
  kEafnosupport = 10047,
  kEaddrinuse = 10048,
  kEaddrnotavail = 10049,
  kEnetdown = 10050,
  kEnetunreach = 10051,
  kEnetreset = 10052,
  kEconnaborted = 10053,
  kEconnreset = 10054,
  kEnobufs = 10055,
  kEisconn = 10056,
  kEnotconn = 10057,
  kEshutdown = 10058,
  kEtoomanyrefs = 10059,
  kEtimedout = 10060,
  kEconnrefused = 10061,
  kEloop = 10062,
  kEnametoolong = 10063,
  kEhostdown = 10064,
  kEhostunreach = 10065,
  kEnotempty = 10066,
  kTypeNotFound = 10109,  // the service is not known
  kHostNotFound = 11001,
  kTryAgain = 11002,
  kNoRecovery = 11003,
  kNoData = 11004,  // the name is valid but has no address of the family
};

}  // namespace sv::wsa
