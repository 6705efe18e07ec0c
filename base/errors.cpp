#include "base/errors.h"

#include "base/text.h"
#include "base/wsa_codes.h"
#include "base/x87.h"

namespace sv {
namespace {

// Texts of the Windows Sockets codes; a code without text gives "".
std::u16string_view socket_error_text(int code) {
  switch (code) {
    case wsa::kEintr: return u"Interrupted system call.";
    case wsa::kEbadf: return u"Bad file number.";
    case wsa::kEacces: return u"Access denied.";
    case wsa::kEfault: return u"Buffer fault.";
    case wsa::kEinval: return u"Invalid argument.";
    case wsa::kEmfile: return u"Too many open files.";
    case wsa::kEwouldblock: return u"Operation would block.";
    case wsa::kEinprogress: return u"Operation now in progress.";
    case wsa::kEalready: return u"Operation already in progress.";
    case wsa::kEnotsock: return u"Socket operation on non-socket.";
    case wsa::kEdestaddrreq: return u"Destination address required.";
    case wsa::kEmsgsize: return u"Message too long.";
    case wsa::kEprototype: return u"Protocol wrong type for socket.";
    case wsa::kEnoprotoopt: return u"Bad protocol option.";
    case wsa::kEprotonosupport: return u"Protocol not supported.";
    case wsa::kEsocktnosupport: return u"Socket type not supported.";
    case wsa::kEopnotsupp: return u"Operation not supported on socket.";
    case wsa::kEpfnosupport: return u"Protocol family not supported.";
    case wsa::kEafnosupport: return u"Address family not supported by protocol family.";
    case wsa::kEaddrinuse: return u"Address already in use.";
    case wsa::kEaddrnotavail: return u"Cannot assign requested address.";
    case wsa::kEnetdown: return u"Network is down.";
    case wsa::kEnetunreach: return u"Network is unreachable.";
    case wsa::kEnetreset: return u"Net dropped connection or reset.";
    case wsa::kEconnaborted: return u"Software caused connection abort.";
    case wsa::kEconnreset: return u"Connection reset by peer.";
    case wsa::kEnobufs: return u"No buffer space available.";
    case wsa::kEisconn: return u"Socket is already connected.";
    case wsa::kEnotconn: return u"Socket is not connected.";
    case wsa::kEshutdown: return u"Cannot send or receive after socket is closed.";
    case wsa::kEtoomanyrefs: return u"Too many references, cannot splice.";
    case wsa::kEtimedout: return u"Connection timed out.";
    case wsa::kEconnrefused: return u"Connection refused.";
    case wsa::kEloop: return u"Too many levels of symbolic links.";
    case wsa::kEnametoolong: return u"File name too long.";
    case wsa::kEhostdown: return u"Host is down.";
    case wsa::kEhostunreach: return u"No route to host.";
    case wsa::kEnotempty: return u"Directory not empty";
    case wsa::kHostNotFound: return u"Host not found.";
    default: return u"";
  }
}

std::u16string socket_error_message(int code) {
  std::u16string m = u"Socket Error # ";
  m += int_to_u16(code);
  m += u"\r\n";
  m += socket_error_text(code);
  return m;
}

std::u16string os_error_message(int code, std::u16string_view system_text) {
  if (code == 0) return u"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen";
  std::u16string m = u"Systemfehler.  Code: ";
  m += int_to_u16(code);
  m += u".\r\n";
  m += system_text;
  return m;
}

std::u16string start_failed_message(std::u16string_view system_text) {
  std::u16string m = u"Error on loading Winsock2 library (WS2_32.DLL): ";
  m += system_text;
  return m;
}

}  // namespace

SocketError::SocketError(int code) : Error(socket_error_message(code)), code_(code) {}
CouldNotBindSocket::CouldNotBindSocket()
    : Error(u"Could not bind socket. Address and port are already in use.") {}
PackageSizeTooBig::PackageSizeTooBig() : Error(u"Package Size Too Big.") {}
NotAllBytesSent::NotAllBytesSent() : Error(u"Not all bytes sent.") {}
SocketLayerStartFailed::SocketLayerStartFailed(int code, std::u16string_view system_text)
    : Error(start_failed_message(system_text)), code_(code) {}
OSError::OSError(int code, std::u16string_view system_text)
    : Error(os_error_message(code, system_text)), code_(code) {}
ConvertError::ConvertError(const std::u16string& text)
    : Error(replace_first(u"''%s'' ist kein gültiger Integer-Wert", u"%s", text)) {}
RangeError::RangeError() : Error(u"Fehler bei Bereichsprüfung") {}
FloatInvalidOp::FloatInvalidOp() : FloatError(u"Ungültige Gleitkommaoperation") {}
FloatOverflow::FloatOverflow() : FloatError(u"Gleitkommaüberlauf") {}
FloatZeroDivide::FloatZeroDivide() : FloatError(u"Gleitkommadivision durch Null") {}
FloatUnderflow::FloatUnderflow() : FloatError(u"Gleitkommaunterlauf") {}
OutOfMemory::OutOfMemory() : Error(u"Zu wenig Arbeitsspeicher") {}

void raise_float_error(unsigned flags) {
  // Invalid and denormal-operand faults are reported before the others, as
  // the FPU does; an inexact result alone counts as an invalid operation.
  if (flags & (x87::kInvalid | x87::kDenormal)) throw FloatInvalidOp();
  if (flags & x87::kZeroDivide) throw FloatZeroDivide();
  if (flags & x87::kOverflow) throw FloatOverflow();
  if (flags & x87::kUnderflow) throw FloatUnderflow();
  throw FloatInvalidOp();
}

}  // namespace sv
