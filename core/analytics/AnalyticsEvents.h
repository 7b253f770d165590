#pragma once
// The bodies of the usage events posted to the analytics collection host.
// Values are escaped by the JSON library; the layout (", " and ": " between
// items) is the collection host's long-standing one.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

inline constexpr wchar_t kMeasurementId[] = L"G-4QX7TNB2KW";
inline constexpr wchar_t kMeasurementSecret[] = L"Qm3vTa9LxKe2RwYp7HsD0c";

// Parameters after "version", in order; null or an empty object for none.
using TEventParams = nlohmann::ordered_json;

// {"client_id": "<id>", "events": [{"name": "<name>", "params": {"version": "<version>", <extra>}}]}
std::wstring BuildEventBody(const std::wstring& clientId, const std::wstring& name, const std::wstring& version,
                            const TEventParams& extra = {});
// "hash", "newHash", "branch" (strings) and "error" (a JSON literal).
TEventParams BuildUpdateExtra(const std::wstring& hash, const std::wstring& newHash, const std::wstring& branch,
                              bool error);
// "sessionTime": "<time text>"
TEventParams BuildSessionTimeExtra(int64_t seconds);
// hh:mm:ss, with "<days>." in front from one day on.
std::wstring FormatPlayTime(int64_t seconds);

// JSON text with ", " between items and ": " after keys, every value escaped.
std::string DumpSpaced(const nlohmann::ordered_json& value);

// The collection URL on the given base: /mp/collect with the measurement id
// and the secret.
std::wstring AnalyticsCollectURL(const std::wstring& base);
