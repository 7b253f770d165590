#pragma once
// The exception hierarchy shared by every module. Every failure is an Exception;
// each carries a message, an optional inner exception and the code addresses
// captured where it was raised.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Exception;
using ExceptionPtr = std::shared_ptr<const Exception>;

// Code addresses captured when an exception object is made: the address at
// which the exception occurred, then up to 16 return addresses of its callers.
struct TStackInfo {
  static constexpr unsigned MaxReturnAddresses = 16;
  std::vector<uintptr_t> Addresses;
  // The caller of the function that calls this (after skipping skipFrames
  // more frames) comes first.
  static TStackInfo CaptureHere(unsigned skipFrames);
  // "%s\r\n%.8X" applied for every address.
  std::wstring ToText() const;
};

// An address as at least 8 upper-case hexadecimal digits (all of them on 64-bit).
std::wstring FormatAddress(uintptr_t address);

class Exception {
 public:
  explicit Exception(std::wstring message);
  Exception(std::wstring message, ExceptionPtr inner);
  virtual ~Exception() = default;

  const std::wstring& Message() const { return FMessage; }
  void SetMessage(std::wstring message) { FMessage = std::move(message); }
  const Exception* InnerException() const { return FInner.get(); }
  const ExceptionPtr& InnerPtr() const { return FInner; }
  void SetInner(ExceptionPtr inner) { FInner = std::move(inner); }
  // The innermost exception of the chain (this one when there is no inner).
  const Exception& GetBaseException() const;

  const TStackInfo& StackInfo() const { return FStack; }
  void SetStackInfo(TStackInfo stack) { FStack = std::move(stack); }

  virtual const wchar_t* ClassName() const { return L"Exception"; }
  // Polymorphic copy and re-raise, so that an exception can travel between
  // threads and be raised again with its real class.
  virtual std::shared_ptr<Exception> Clone() const { return std::make_shared<Exception>(*this); }
  [[noreturn]] virtual void Raise() const { throw *this; }

  template <class T>
  bool Is() const { return dynamic_cast<const T*>(this) != nullptr; }

 private:
  std::wstring FMessage;
  ExceptionPtr FInner;
  TStackInfo FStack;
};

// Declares an exception class deriving from Base with the usual constructors.
#define DECLARE_EXCEPTION_CLASS(Name, Base)                                                 \
  class Name : public Base {                                                                 \
   public:                                                                                   \
    using Base::Base;                                                                        \
    const wchar_t* ClassName() const override { return L## #Name; }                          \
    std::shared_ptr<Exception> Clone() const override { return std::make_shared<Name>(*this); } \
    [[noreturn]] void Raise() const override { throw *this; }                                \
  }

// Silent cancellation: handlers report nothing for it.
DECLARE_EXCEPTION_CLASS(EAbort, Exception);
DECLARE_EXCEPTION_CLASS(EArgumentException, Exception);
DECLARE_EXCEPTION_CLASS(ENotSupportedException, Exception);
DECLARE_EXCEPTION_CLASS(EEncodingError, Exception);
// A stream or file operation that failed; the system's code and the file's
// name where they are known (0 and empty otherwise).
class EStreamError : public Exception {
 public:
  explicit EStreamError(std::wstring message, uint32_t errorCode = 0, std::wstring fileName = {})
      : Exception(std::move(message)), ErrorCode(errorCode), FileName(std::move(fileName)) {}
  const wchar_t* ClassName() const override { return L"EStreamError"; }
  std::shared_ptr<Exception> Clone() const override { return std::make_shared<EStreamError>(*this); }
  [[noreturn]] void Raise() const override { throw *this; }
  uint32_t ErrorCode;
  std::wstring FileName;
};
DECLARE_EXCEPTION_CLASS(EReadError, EStreamError);
DECLARE_EXCEPTION_CLASS(EWriteError, EStreamError);
DECLARE_EXCEPTION_CLASS(EFOpenError, EStreamError);
DECLARE_EXCEPTION_CLASS(EFCreateError, EStreamError);
DECLARE_EXCEPTION_CLASS(EInOutError, Exception);
DECLARE_EXCEPTION_CLASS(EAssertionFailed, Exception);
DECLARE_EXCEPTION_CLASS(EExternalException, Exception);
DECLARE_EXCEPTION_CLASS(EAccessViolation, EExternalException);

class EArgumentOutOfRangeException : public EArgumentException {
 public:
  EArgumentOutOfRangeException() : EArgumentException(L"Argument out of range") {}
  using EArgumentException::EArgumentException;
  const wchar_t* ClassName() const override { return L"EArgumentOutOfRangeException"; }
  std::shared_ptr<Exception> Clone() const override {
    return std::make_shared<EArgumentOutOfRangeException>(*this);
  }
  [[noreturn]] void Raise() const override { throw *this; }
};

// A failed system call, with its Windows error code.
class EOSError : public Exception {
 public:
  EOSError(uint32_t errorCode, std::wstring message) : Exception(std::move(message)), ErrorCode(errorCode) {}
  const wchar_t* ClassName() const override { return L"EOSError"; }
  std::shared_ptr<Exception> Clone() const override { return std::make_shared<EOSError>(*this); }
  [[noreturn]] void Raise() const override { throw *this; }
  uint32_t ErrorCode;
  // The file the call was about, when it was about one.
  std::wstring FileName;
};

// The system's text for a Windows error code, without trailing line breaks.
std::wstring SysErrorMessage(uint32_t errorCode);
// Raises EOSError "System Error.  Code: %d.\r\n%s" for the code (the thread's last
// error when none is given).
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(uint32_t errorCode, const std::wstring& suffix = L"");
// The same for a call about one file: the error names it and keeps its name.
[[noreturn]] void RaiseFileOSError(uint32_t errorCode, const std::wstring& fileName);

// Asserts with the message form "%s (%s, line %d)".
[[noreturn]] void RaiseAssertion(const std::wstring& message, const std::wstring& unitPath, int line);

// Turns whatever is being handled into an Exception object (unknown C++
// exceptions become Exception "Unknown exception"). Call only inside a catch.
std::shared_ptr<Exception> CurrentExceptionAsObject();
