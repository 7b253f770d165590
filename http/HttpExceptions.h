#pragma once
// The HTTP client's exceptions and the one rule by which a failed WinHTTP call
// becomes an exception.
#include <cstdint>
#include <memory>
#include <string>

#include "Exceptions.h"

class THTTPAsyncContext;

DECLARE_EXCEPTION_CLASS(EHTTPException, Exception);
// A status notification arrived without its exchange.
DECLARE_EXCEPTION_CLASS(EHTTPEmptyContextException, EHTTPException);
// Run was called on an exchange that has already started.
DECLARE_EXCEPTION_CLASS(EHTTPAlreadyRunning, EHTTPException);
// An exchange was started on a client that has no session.
DECLARE_EXCEPTION_CLASS(EHTTPNoSession, EHTTPException);
// A reply kept in memory grew past what any real reply reaches.
DECLARE_EXCEPTION_CLASS(EHTTPReplyTooLarge, EHTTPException);
// A body stopped coming: too few bytes for too long.
DECLARE_EXCEPTION_CLASS(EHTTPStalled, EHTTPException);

// A failed WinHTTP call or an error WinHTTP reported for a request.
class EHTTPCallbackError : public EHTTPException {
 public:
  EHTTPCallbackError(uint32_t errorCode, std::wstring message)
      : EHTTPException(std::move(message)), ErrorCode(errorCode) {}
  const wchar_t* ClassName() const override { return L"EHTTPCallbackError"; }
  std::shared_ptr<Exception> Clone() const override { return std::make_shared<EHTTPCallbackError>(*this); }
  [[noreturn]] void Raise() const override { throw *this; }
  uint32_t ErrorCode;
};

// Carries an exception that escaped an asynchronous notification to the main
// thread; the escaped exception is its inner exception. All copies of one
// wrapper share one guard: when the last copy goes, the exchange is disposed if
// it asked for that and nobody has disposed it yet. The guard holds the
// exchange weakly, so a wrapper never keeps a finished exchange alive or
// touches a freed one.
class EHTTPWrapperException : public EHTTPException {
 public:
  EHTTPWrapperException(std::wstring message, const std::shared_ptr<THTTPAsyncContext>& context,
                        ExceptionPtr inner = nullptr);
  const wchar_t* ClassName() const override { return L"EHTTPWrapperException"; }
  std::shared_ptr<Exception> Clone() const override { return std::make_shared<EHTTPWrapperException>(*this); }
  [[noreturn]] void Raise() const override { throw *this; }
  // The exchange, while it still exists (null for an empty-context failure or
  // once the exchange has been freed).
  std::shared_ptr<THTTPAsyncContext> Context() const;

 private:
  struct TDisposeGuard;
  std::shared_ptr<TDisposeGuard> FGuard;
};

// Reads the thread's last error right after a WinHTTP call reported failure:
// 0 and ERROR_INVALID_HANDLE are returned quietly (a closed or missing handle
// ends the caller's work without a report); anything else raises.
uint32_t CheckWinHttpError();
// Raises EHTTPCallbackError "System Error.  Code: %d.\r\n%s%s".
[[noreturn]] void RaiseCallbackError(uint32_t errorCode, const std::wstring& suffix);
// The system's text with trailing control characters, blanks and full stops removed.
std::wstring TrimSystemText(std::wstring text);
// " in function " and the WinHTTP function an asynchronous API identifier names.
std::wstring AsyncApiSuffix(uintptr_t apiIdentifier);
