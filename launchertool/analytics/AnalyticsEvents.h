#pragma once
// The bodies of the usage events posted to the analytics collection host,
// built by plain concatenation: every inserted value is a plain ASCII token.
#include <cstdint>
#include <string>

inline constexpr wchar_t kMeasurementId[] = L"G-4QX7TNB2KW";
inline constexpr wchar_t kMeasurementSecret[] = L"Qm3vTa9LxKe2RwYp7HsD0c";

// {"client_id": "<id>", "events": [{"name": "<name>", "params": {"version": "<version>"<extra>}}]}
std::wstring BuildEventBody(const std::wstring& clientId, const std::wstring& name, const std::wstring& version,
                            const std::wstring& extra);
// , "hash": "..", "newHash": "..", "branch": "..", "error": true|false
std::wstring BuildUpdateExtra(const std::wstring& hash, const std::wstring& newHash, const std::wstring& branch,
                              bool error);
// , "sessionTime": "<time text>"
std::wstring BuildSessionTimeExtra(int64_t seconds);
// hh:mm:ss, with "<days>." in front from one day on.
std::wstring FormatPlayTime(int64_t seconds);

// The collection URL on the given base: /mp/collect with the measurement id
// and the secret.
std::wstring AnalyticsCollectURL(const std::wstring& base);
