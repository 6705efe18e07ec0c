#include "support/errors.h"

#include "platform/system_error.h"
#include "support/text.h"

namespace sv {
namespace {

// Texts of the Windows Sockets codes; a code without text gives "".
std::u16string_view socket_error_text(int code) {
  switch (code) {
    case 10004: return u"Interrupted system call.";
    case 10009: return u"Bad file number.";
    case 10013: return u"Access denied.";
    case 10014: return u"Buffer fault.";
    case 10022: return u"Invalid argument.";
    case 10024: return u"Too many open files.";
    case 10035: return u"Operation would block.";
    case 10036: return u"Operation now in progress.";
    case 10037: return u"Operation already in progress.";
    case 10038: return u"Socket operation on non-socket.";
    case 10039: return u"Destination address required.";
    case 10040: return u"Message too long.";
    case 10041: return u"Protocol wrong type for socket.";
    case 10042: return u"Bad protocol option.";
    case 10043: return u"Protocol not supported.";
    case 10044: return u"Socket type not supported.";
    case 10045: return u"Operation not supported on socket.";
    case 10046: return u"Protocol family not supported.";
    case 10047: return u"Address family not supported by protocol family.";
    case 10048: return u"Address already in use.";
    case 10049: return u"Cannot assign requested address.";
    case 10050: return u"Network is down.";
    case 10051: return u"Network is unreachable.";
    case 10052: return u"Net dropped connection or reset.";
    case 10053: return u"Software caused connection abort.";
    case 10054: return u"Connection reset by peer.";
    case 10055: return u"No buffer space available.";
    case 10056: return u"Socket is already connected.";
    case 10057: return u"Socket is not connected.";
    case 10058: return u"Cannot send or receive after socket is closed.";
    case 10059: return u"Too many references, cannot splice.";
    case 10060: return u"Connection timed out.";
    case 10061: return u"Connection refused.";
    case 10062: return u"Too many levels of symbolic links.";
    case 10063: return u"File name too long.";
    case 10064: return u"Host is down.";
    case 10065: return u"No route to host.";
    case 10066: return u"Directory not empty";
    case 11001: return u"Host not found.";
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

std::u16string os_error_message(int code) {
  if (code == 0) return u"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen";
  std::u16string m = u"Systemfehler.  Code: ";
  m += int_to_u16(code);
  m += u".\r\n";
  m += platform::system_error_text(code);
  return m;
}

std::u16string start_failed_message(int code) {
  std::u16string m = u"Error on loading Winsock2 library (WS2_32.DLL): ";
  m += platform::system_error_text(code);
  return m;
}

}  // namespace

SocketError::SocketError(int code) : Error(socket_error_message(code)), code_(code) {}
CouldNotBindSocket::CouldNotBindSocket()
    : Error(u"Could not bind socket. Address and port are already in use.") {}
PackageSizeTooBig::PackageSizeTooBig() : Error(u"Package Size Too Big.") {}
NotAllBytesSent::NotAllBytesSent() : Error(u"Not all bytes sent.") {}
SocketLayerStartFailed::SocketLayerStartFailed(int code)
    : Error(start_failed_message(code)), code_(code) {}
OSError::OSError(int code) : Error(os_error_message(code)), code_(code) {}
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
  if (flags & 0x03) throw FloatInvalidOp();
  if (flags & 0x04) throw FloatZeroDivide();
  if (flags & 0x08) throw FloatOverflow();
  if (flags & 0x10) throw FloatUnderflow();
  throw FloatInvalidOp();
}

}  // namespace sv
