#include "base/errors.h"

#include "base/text.h"
#include "base/wsa_codes.h"
#include "base/x87.h"

namespace sv {
namespace {

// Texts of the Windows Sockets codes; a number without text gives "".
std::u16string_view socket_error_text(int code) {
  switch (code) {
#define SV_WSA_CASE(name, number, text) \
  case number: return text;
    SV_WSA_CODES(SV_WSA_CASE)
#undef SV_WSA_CASE
  }
  return u"";
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
