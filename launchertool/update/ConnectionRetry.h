#pragma once
// What kind of failure an exchange ended with, for the retry schedule and for
// the player's message once the retries are spent.
#include <memory>
#include <optional>

#include "Exceptions.h"
#include "update/RetrySchedule.h"

struct TFaultReading {
  TFaultKind Kind = TFaultKind::Final;
  int32_t Status = 0;  // ServerStatus only
  std::optional<uint32_t> RetryAfterSeconds;
};

TFaultReading ReadFault(const Exception& failure);
// The player's words for a connection or server failure whose retries are
// spent; null for any other failure.
std::shared_ptr<Exception> ConnectionFaultInPlayersWords(const Exception& failure);
// Raises EServerReplyError when status is worth another try.
void RaiseIfTransientStatus(int32_t status, uint32_t retryAfterSeconds, const std::wstring& what);
// -1 .. 1, for spreading the pauses of clients that failed together.
double RetryJitter();
