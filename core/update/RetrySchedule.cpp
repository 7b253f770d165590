#include "update/RetrySchedule.h"

#include <algorithm>

bool IsTransientStatus(int32_t status) {
  return status == 500 || status == 502 || status == 503 || status == 504 || status == 429;
}

std::optional<uint32_t> ParseRetryAfter(const std::wstring& text) {
  size_t begin = text.find_first_not_of(L" \t");
  size_t end = text.find_last_not_of(L" \t");
  if (begin == std::wstring::npos) return std::nullopt;
  if (end - begin + 1 > 9) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = begin; i <= end; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(text[i] - L'0');
  }
  return value;
}

int MaxRetriesOf(TFaultKind kind) {
  switch (kind) {
    case TFaultKind::Connection:
    case TFaultKind::ServerStatus:
    case TFaultKind::SecureConnection:
      return kMaxRetries;
    case TFaultKind::BodyCheck:
      return kMaxBodyCheckRetries;
    case TFaultKind::Final:
      break;
  }
  return 0;
}

std::optional<uint32_t> NextRetryPauseMs(TFaultKind kind, TRetryCount& count, double jitter,
                                         std::optional<uint32_t> retryAfterSeconds) {
  if (kind == TFaultKind::Final) return std::nullopt;
  int& used = kind == TFaultKind::BodyCheck ? count.BodyCheckRetries : count.Retries;
  if (used >= MaxRetriesOf(kind)) return std::nullopt;
  const uint32_t base = kRetryPausesMs[std::min(used, kMaxRetries - 1)];
  ++used;
  jitter = std::clamp(jitter, -1.0, 1.0);
  auto pause = static_cast<uint32_t>(base * (1.0 + 0.2 * jitter));
  if (retryAfterSeconds) {
    pause = std::max(pause, std::min(*retryAfterSeconds, kLongestRetryAfterSeconds) * 1000U);
  }
  return pause;
}
