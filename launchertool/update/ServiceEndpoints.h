#pragma once
// Base URLs of the repository API, the raw-content host and the analytics
// collection host. Fixed values of the build; an environment variable may
// point one at a mirror or a local stand-in.
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TServiceEndpoints {
  std::wstring ApiBase;
  std::wstring RawBase;
  std::wstring AnalyticsBase;
};

inline constexpr wchar_t kDefaultApiBase[] = L"https://api.github.com";
inline constexpr wchar_t kDefaultRawBase[] = L"https://raw.githubusercontent.com";
inline constexpr wchar_t kDefaultAnalyticsBase[] = L"https://www.google-analytics.com";

// Reads one environment variable; empty optional when it is not set.
using TEnvironmentReader = std::function<std::optional<std::wstring>(const wchar_t* name)>;

// The endpoints with VELDRA_API_URL, VELDRA_RAW_URL and VELDRA_ANALYTICS_URL
// applied. An override must be "http://" or "https://" followed by a loopback
// host (127.0.0.0/8, localhost, [::1]) and an optional port; a trailing "/" is
// dropped; anything else is ignored. Overrides exist for tests and the demo:
// another program of the user must not point the launcher elsewhere.
// Notes receives a log line per variable set: in force or ignored.
TServiceEndpoints EndpointsFromEnvironment(const TEnvironmentReader& read, std::vector<std::wstring>* notes = nullptr);

// The process's endpoints, read from the environment on first use (the window
// asks at its creation, so a restarted launcher sees what its parent saw).
const TServiceEndpoints& ServiceEndpoints();
// Writes the notes of ServiceEndpoints() to the log (once, at start).
void LogEndpointOverrides();
