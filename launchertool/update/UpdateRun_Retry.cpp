// Retries: a request that failed for a moment (the connection, a busy server,
// a stale cache) waits and goes again; the rest of the run goes on meanwhile.
#include <cstdio>

#include "MainThreadQueue.h"
#include "uDebugUtils.h"
#include "update/ConnectionRetry.h"
#include "update/UpdateRun.h"

bool TUpdateRun::RetryLater(TRetryCount& count, const std::wstring& what, const Exception& failure,
                            std::function<void()> retry, std::function<void()> giveUp) {
  if (FFailure || FEnded) return false;
  const TFaultReading fault = ReadFault(failure);
  const std::optional<uint32_t> pause = NextRetryPauseMs(fault.Kind, count, RetryJitter(), fault.RetryAfterSeconds);
  if (!pause) return false;
  const int made = fault.Kind == TFaultKind::BodyCheck ? count.BodyCheckRetries : count.Retries;
  wchar_t seconds[16];
  std::swprintf(seconds, std::size(seconds), L"%.1f", *pause / 1000.0);
  LogMessage(L"Update", L"Retry " + std::to_wstring(made) + L" of " + std::to_wstring(MaxRetriesOf(fault.Kind)) +
                            L" in " + seconds + L" s: " + what + L": " + failure.GetBaseException().Message());
  FRetryShown = true;
  FEvents.RunStatus(TUpdateRunStatus::Retrying);
  const uint64_t id = ++FNextRetryId;
  FWaitingRetries.emplace(id, std::move(giveUp));
  MainThread::QueueAfter(*pause, [run = weak_from_this(), id, retry = std::move(retry)] {
    auto alive = run.lock();
    // Gone, or given up when the run failed meanwhile.
    if (!alive || alive->FWaitingRetries.erase(id) == 0) return;
    alive->Step(retry);
  });
  return true;
}

void TUpdateRun::Retried() {
  if (!FRetryShown) return;
  FRetryShown = false;
  FEvents.RunStatus(TUpdateRunStatus::Retried);
}

void TUpdateRun::GiveUpWaitingRetries() {
  std::map<uint64_t, std::function<void()>> waiting;
  waiting.swap(FWaitingRetries);
  for (auto& entry : waiting) entry.second();
}
