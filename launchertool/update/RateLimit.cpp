#include "RateLimit.h"

#include <windows.h>

#include <cwchar>

#include "update/DownloadError.h"
#include "HttpResponse.h"

std::wstring FormatSpanAsTimeOfDay(int64_t seconds, const std::wstring& localeName) {
  if (seconds < 0) seconds = 0;
  SYSTEMTIME time{};
  // A time of day: whole days of the span do not show.
  time.wHour = static_cast<WORD>((seconds / 3600) % 24);
  time.wMinute = static_cast<WORD>((seconds / 60) % 60);
  time.wSecond = static_cast<WORD>(seconds % 60);
  time.wYear = 1899;
  time.wMonth = 12;
  time.wDay = 30;
  const wchar_t* locale = localeName.empty() ? LOCALE_NAME_USER_DEFAULT : localeName.c_str();
  wchar_t text[128];
  const int length = GetTimeFormatEx(locale, 0, &time, nullptr, text, static_cast<int>(std::size(text)));
  if (length <= 0) {
    std::swprintf(text, std::size(text), L"%d:%.2d:%.2d", time.wHour, time.wMinute, time.wSecond);
    return text;
  }
  return std::wstring(text, static_cast<size_t>(length - 1));
}

void CheckRateLimit(uint32_t remaining, uint32_t reset, std::time_t now) {
  if (remaining >= kMinimumRateLimitRemaining) return;
  std::wstring message = kRateLimitMessage;
  message.replace(message.find(L"%s"), 2, FormatSpanAsTimeOfDay(static_cast<int64_t>(reset) - now));
  throw EDownloadError(message);
}

void CheckRateLimit(const THTTPResponse& response) {
  CheckRateLimit(response.GetIntegerHeaderByName(L"x-ratelimit-remaining"),
                 response.GetIntegerHeaderByName(L"x-ratelimit-reset"), std::time(nullptr));
}
