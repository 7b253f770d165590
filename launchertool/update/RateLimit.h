#pragma once
// The guard against running out of repository API requests in the middle of
// a tree walk, applied to the root tree reply.
#include <cstdint>
#include <ctime>
#include <string>

class THTTPResponse;

inline constexpr uint32_t kMinimumRateLimitRemaining = 10;
inline constexpr wchar_t kRateLimitMessage[] = L"Сервера перегружены, попробуйте обновиться через %s";

// Raises EDownloadError when the reply's x-ratelimit-remaining is below 10
// (an absent header counts as 0); the message names the time until
// x-ratelimit-reset. Call it from the reply's end-of-load handler.
void CheckRateLimit(const THTTPResponse& response);
// The same decision from the header values, the clock given.
void CheckRateLimit(uint32_t remaining, uint32_t reset, std::time_t now);

// A span of seconds shown as a time of day in the long time format of a
// locale (the user's when empty); negative spans show as zero.
std::wstring FormatSpanAsTimeOfDay(int64_t seconds, const std::wstring& localeName = L"");
