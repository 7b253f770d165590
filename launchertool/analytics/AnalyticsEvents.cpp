#include "AnalyticsEvents.h"

#include <cwchar>
#include <iterator>

std::wstring BuildEventBody(const std::wstring& clientId, const std::wstring& name, const std::wstring& version,
                            const std::wstring& extra) {
  return L"{\"client_id\": \"" + clientId + L"\", \"events\": [{\"name\": \"" + name + L"\", " +
         L"\"params\": {\"version\": \"" + version + L"\"" + extra + L"}}]}";
}

std::wstring BuildUpdateExtra(const std::wstring& hash, const std::wstring& newHash, const std::wstring& branch,
                              bool error) {
  return L", \"hash\": \"" + hash + L"\", \"newHash\": \"" + newHash + L"\", \"branch\": \"" + branch +
         L"\", \"error\": " + (error ? L"true" : L"false");
}

std::wstring BuildSessionTimeExtra(int64_t seconds) {
  return L", \"sessionTime\": \"" + FormatPlayTime(seconds) + L"\"";
}

std::wstring FormatPlayTime(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  wchar_t text[64];
  std::swprintf(text, std::size(text), L"%.2d:%.2d:%.2d", static_cast<int>((seconds / 3600) % 24),
                static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
  if (seconds < 86400) return text;
  wchar_t withDays[96];
  std::swprintf(withDays, std::size(withDays), L"%lld.%ls", static_cast<long long>(seconds / 86400), text);
  return withDays;
}

std::wstring AnalyticsCollectURL(const std::wstring& base) {
  return base + L"/mp/collect?measurement_id=" + kMeasurementId + L"&api_secret=" + kMeasurementSecret;
}
