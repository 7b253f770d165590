#include "ServiceEndpoints.h"

#include <cstdlib>
#include <cwctype>

namespace {

bool IsValidBase(const std::wstring& url) {
  size_t hostStart;
  if (url.rfind(L"http://", 0) == 0) {
    hostStart = 7;
  } else if (url.rfind(L"https://", 0) == 0) {
    hostStart = 8;
  } else {
    return false;
  }
  const std::wstring rest = url.substr(hostStart);
  if (rest.empty() || rest[0] == L':') return false;
  const size_t colon = rest.find(L':');
  for (size_t i = 0; i < rest.size(); ++i) {
    const wchar_t c = rest[i];
    if (colon != std::wstring::npos && i > colon) {
      if (!std::iswdigit(c)) return false;
    } else if (!(std::iswalnum(c) || c == L'.' || c == L'-' || c == L':' || c == L'_')) {
      return false;
    }
  }
  return colon == std::wstring::npos || colon + 1 < rest.size();
}

std::wstring Pick(const TEnvironmentReader& read, const wchar_t* name, const wchar_t* fallback) {
  std::optional<std::wstring> value = read(name);
  if (!value) return fallback;
  std::wstring url = *value;
  if (!url.empty() && url.back() == L'/') url.pop_back();
  return IsValidBase(url) ? url : fallback;
}

}  // namespace

TServiceEndpoints EndpointsFromEnvironment(const TEnvironmentReader& read) {
  return {Pick(read, L"VELDRA_API_URL", kDefaultApiBase), Pick(read, L"VELDRA_RAW_URL", kDefaultRawBase),
          Pick(read, L"VELDRA_ANALYTICS_URL", kDefaultAnalyticsBase)};
}

const TServiceEndpoints& ServiceEndpoints() {
  static const TServiceEndpoints endpoints = EndpointsFromEnvironment([](const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? std::optional<std::wstring>(value) : std::nullopt;
  });
  return endpoints;
}
