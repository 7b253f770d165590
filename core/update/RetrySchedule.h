#pragma once
// When a failed request is tried again, and how long the run waits first. A
// connection that drops for a moment or a server that answers 503 once should
// cost the player a pause, not the run.
#include <cstdint>
#include <optional>
#include <string>

enum class TFaultKind : uint8_t {
  Final,             // not worth another try (404, a rate limit, a refused path, ...)
  Connection,        // dropped, reset, refused, timed out, stalled
  ServerStatus,      // 500, 502, 503, 504 or 429
  SecureConnection,  // the TLS handshake failed
  BodyCheck,         // the body failed its length or blob hash check
};

inline constexpr int kMaxRetries = 3;
// A cache may have served stale bytes once; twice is the file.
inline constexpr int kMaxBodyCheckRetries = 1;
inline constexpr uint32_t kRetryPausesMs[kMaxRetries] = {1000, 3000, 9000};
// A Retry-After above this is not waited for in full.
inline constexpr uint32_t kLongestRetryAfterSeconds = 30;

// The tries one request has had so far.
struct TRetryCount {
  int Retries = 0;
  int BodyCheckRetries = 0;
};

bool IsTransientStatus(int32_t status);
// Delta-seconds only; an HTTP date or anything else is no value.
std::optional<uint32_t> ParseRetryAfter(const std::wstring& text);

// The pause before the next try, or nothing when the failure is final or its
// tries are spent. jitter in [-1, 1] spreads clients that failed together
// (±20 %); a Retry-After lengthens the pause up to kLongestRetryAfterSeconds.
// Counts the try in count when one is due.
std::optional<uint32_t> NextRetryPauseMs(TFaultKind kind, TRetryCount& count, double jitter,
                                         std::optional<uint32_t> retryAfterSeconds = std::nullopt);
int MaxRetriesOf(TFaultKind kind);
