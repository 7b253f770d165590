#include "game/SessionTime.h"

#include <cwchar>

std::wstring FormatSessionTime(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  wchar_t time[32];
  swprintf(time, 32, L"%.2d:%.2d:%.2d", static_cast<int>((seconds / 3600) % 24), static_cast<int>((seconds / 60) % 60),
           static_cast<int>(seconds % 60));
  if (seconds < 86400) return time;
  wchar_t full[64];
  swprintf(full, 64, L"%lld.%ls", static_cast<long long>(seconds / 86400), time);
  return full;
}

std::wstring SessionTimeExtra(int64_t seconds) {
  return L", \"sessionTime\": \"" + FormatSessionTime(seconds) + L"\"";
}
