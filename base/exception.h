// The one base class of every error the core raises, and the platform status error that carries
// a negative status code. Only a frame's failure guard catches them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace zentrak {

// An error of the system. The message is 8-bit text in the system code page; it becomes the
// description of the failed call.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // Help context of the error object; 0 for all of the system's own errors.
  virtual uint32_t HelpContext() const noexcept { return 0; }

 private:
  std::string message_;
};

// A failed platform or component call. When its code is negative the failure guard returns that
// code instead of E_UNEXPECTED.
class EStatusError : public Exception {
 public:
  EStatusError(std::string message, int32_t code, uint32_t help_context = 0)
      : Exception(std::move(message)), code_(code), help_context_(help_context) {}
  int32_t Code() const noexcept { return code_; }
  uint32_t HelpContext() const noexcept override { return help_context_; }

 private:
  int32_t code_;
  uint32_t help_context_;
};

// A member whose behaviour is not built yet on this platform. Fails with E_NOTIMPL.
class ENotAvailable : public EStatusError {
 public:
  explicit ENotAvailable(const std::string& what)
      : EStatusError(what + " is not available yet", static_cast<int32_t>(0x80004001u)) {}
};

}  // namespace zentrak
