// Failures raised inside the library. Each kind is its own class so callers
// and tests can tell them apart; every one carries its user-visible message.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace sv {

class Error : public std::exception {
 public:
  explicit Error(std::u16string message) : message_(std::move(message)) {}
  const std::u16string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return "sv::Error"; }

 private:
  std::u16string message_;
};

// Sender failures.
class SocketError : public Error {
 public:
  explicit SocketError(int code);
  int code() const noexcept { return code_; }

 private:
  int code_;
};

class CouldNotBindSocket : public Error {
 public:
  CouldNotBindSocket();
};

class PackageSizeTooBig : public Error {
 public:
  PackageSizeTooBig();
};

class NotAllBytesSent : public Error {
 public:
  NotAllBytesSent();
};

// The system's text for the code is given by the caller, which can ask the
// platform for it.
class SocketLayerStartFailed : public Error {
 public:
  SocketLayerStartFailed(int code, std::u16string_view system_text);
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// An operating-system call failed (e.g. a name lookup's system error).
class OSError : public Error {
 public:
  OSError(int code, std::u16string_view system_text);
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// Text that is no integer.
class ConvertError : public Error {
 public:
  explicit ConvertError(const std::u16string& text);
};

class RangeError : public Error {
 public:
  RangeError();
};

// Floating-point conditions whose trap the calling thread had on.
class FloatError : public Error {
 public:
  using Error::Error;
};
class FloatInvalidOp : public FloatError {
 public:
  FloatInvalidOp();
};
class FloatOverflow : public FloatError {
 public:
  FloatOverflow();
};
class FloatZeroDivide : public FloatError {
 public:
  FloatZeroDivide();
};
class FloatUnderflow : public FloatError {
 public:
  FloatUnderflow();
};

// A parameter section that ends or overruns before a line is complete.
class SectionFormatError : public Error {
 public:
  using Error::Error;
};

// Settings store failures.
class RegistryError : public Error {
 public:
  using Error::Error;
};

// The exception a failed allocation becomes at the boundary.
class OutOfMemory : public Error {
 public:
  OutOfMemory();
};

// Raises the floating-point failure for the first condition among the given
// exception bits (x87 status layout), in hardware priority order.
[[noreturn]] void raise_float_error(unsigned flags);

}  // namespace sv
