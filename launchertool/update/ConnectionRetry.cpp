#include "update/ConnectionRetry.h"

#include <windows.h>
#include <winhttp.h>

#include <random>

#include "HttpExceptions.h"
#include "update/ConnectionFaults.h"
#include "update/DownloadError.h"

namespace {

TFaultKind KindOfWinHttpError(uint32_t code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_RESEND_REQUEST:
    // Wine passes the socket's own codes through.
    case 10050:  // WSAENETDOWN
    case 10051:  // WSAENETUNREACH
    case 10052:  // WSAENETRESET
    case 10053:  // WSAECONNABORTED
    case 10054:  // WSAECONNRESET
    case 10060:  // WSAETIMEDOUT
    case 10061:  // WSAECONNREFUSED
    case 10064:  // WSAEHOSTDOWN
    case 10065:  // WSAEHOSTUNREACH
      return TFaultKind::Connection;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return TFaultKind::SecureConnection;
    default:
      return TFaultKind::Final;
  }
}

}  // namespace

TFaultReading ReadFault(const Exception& failure) {
  const Exception& cause = failure.GetBaseException();
  TFaultReading reading;
  if (cause.Is<EAbort>()) return reading;
  if (const auto* server = dynamic_cast<const EServerReplyError*>(&cause)) {
    reading.Kind = TFaultKind::ServerStatus;
    reading.Status = server->Status;
    if (server->RetryAfterSeconds) reading.RetryAfterSeconds = server->RetryAfterSeconds;
  } else if (cause.Is<EBodyCheckError>()) {
    reading.Kind = TFaultKind::BodyCheck;
  } else if (cause.Is<EHTTPStalled>() || cause.Is<EBodyCutError>()) {
    reading.Kind = TFaultKind::Connection;
  } else if (const auto* winhttp = dynamic_cast<const EHTTPCallbackError*>(&cause)) {
    reading.Kind = KindOfWinHttpError(winhttp->ErrorCode);
  }
  return reading;
}

std::shared_ptr<Exception> ConnectionFaultInPlayersWords(const Exception& failure) {
  if (failure.GetBaseException().Is<EHTTPReplyTooLarge>()) return std::make_shared<EDownloadError>(kReplyTooLargeMessage);
  const TFaultReading fault = ReadFault(failure);
  switch (fault.Kind) {
    case TFaultKind::Connection:
      return std::make_shared<EDownloadError>(NoConnectionMessage());
    case TFaultKind::ServerStatus:
      return std::make_shared<EDownloadError>(ServerErrorMessage(fault.Status));
    case TFaultKind::SecureConnection:
      return std::make_shared<EDownloadError>(SecureConnectionMessage());
    case TFaultKind::BodyCheck:
    case TFaultKind::Final:
      break;
  }
  return nullptr;
}

void RaiseIfTransientStatus(int32_t status, uint32_t retryAfterSeconds, const std::wstring& what) {
  if (!IsTransientStatus(status)) return;
  throw EServerReplyError(status, retryAfterSeconds, what + L" [" + std::to_wstring(status) + L"]");
}

double RetryJitter() {
  thread_local std::minstd_rand random(std::random_device{}());
  return std::uniform_real_distribution<double>(-1.0, 1.0)(random);
}
