#pragma once
// EDownloadError: a failed update step; its message is shown to the user.
#include <cstdint>

#include "Exceptions.h"

DECLARE_EXCEPTION_CLASS(EDownloadError, Exception);
// A body that failed its length or blob hash check.
DECLARE_EXCEPTION_CLASS(EBodyCheckError, EDownloadError);
// A body that ended before its announced or expected length: the connection
// went, and what arrived is worth continuing.
DECLARE_EXCEPTION_CLASS(EBodyCutError, EDownloadError);

// The server answered with a status worth another try (500, 502, 503, 504, 429).
class EServerReplyError : public EDownloadError {
 public:
  EServerReplyError(int32_t status, uint32_t retryAfterSeconds, std::wstring message)
      : EDownloadError(std::move(message)), Status(status), RetryAfterSeconds(retryAfterSeconds) {}
  const wchar_t* ClassName() const override { return L"EServerReplyError"; }
  std::shared_ptr<Exception> Clone() const override { return std::make_shared<EServerReplyError>(*this); }
  [[noreturn]] void Raise() const override { throw *this; }
  int32_t Status;
  uint32_t RetryAfterSeconds;  // 0: none given
};
