#include "ServiceEndpoints.h"

#include <cstdlib>
#include <cwctype>

#include "uDebugUtils.h"

namespace {

bool IsLoopbackIPv4(const std::wstring& host) {
  int parts = 0;
  size_t i = 0;
  int first = -1;
  while (i <= host.size()) {
    size_t dot = host.find(L'.', i);
    if (dot == std::wstring::npos) dot = host.size();
    const std::wstring part = host.substr(i, dot - i);
    if (part.empty() || part.size() > 3) return false;
    for (wchar_t c : part)
      if (c < L'0' || c > L'9') return false;
    const int value = std::stoi(part);
    if (value > 255) return false;
    if (first < 0) first = value;
    ++parts;
    i = dot + 1;
  }
  return parts == 4 && first == 127;
}

bool IsLoopbackHost(const std::wstring& host) {
  std::wstring lower = host;
  for (auto& c : lower)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return lower == L"localhost" || lower == L"[::1]" || IsLoopbackIPv4(host);
}

bool IsValidPort(const std::wstring& port) {
  if (port.empty() || port.size() > 5) return false;
  for (wchar_t c : port)
    if (c < L'0' || c > L'9') return false;
  return std::stoi(port) <= 65535;
}

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
  // "[::1]" carries colons of its own.
  const size_t hostEnd = rest.rfind(L']') != std::wstring::npos ? rest.rfind(L']') + 1 : 0;
  const size_t colon = rest.find(L':', hostEnd);
  const std::wstring host = rest.substr(0, colon);
  if (!IsLoopbackHost(host)) return false;
  return colon == std::wstring::npos || IsValidPort(rest.substr(colon + 1));
}

std::wstring Pick(const TEnvironmentReader& read, const wchar_t* name, const wchar_t* fallback,
                  std::vector<std::wstring>& notes) {
  std::optional<std::wstring> value = read(name);
  if (!value) return fallback;
  std::wstring url = *value;
  if (!url.empty() && url.back() == L'/') url.pop_back();
  if (!IsValidBase(url)) {
    notes.push_back(std::wstring(name) + L" ignored: only a loopback http(s) base is taken");
    return fallback;
  }
  notes.push_back(std::wstring(name) + L" in force: " + url);
  return url;
}

}  // namespace

TServiceEndpoints EndpointsFromEnvironment(const TEnvironmentReader& read, std::vector<std::wstring>* notes) {
  std::vector<std::wstring> lines;
  TServiceEndpoints endpoints{Pick(read, L"VELDRA_API_URL", kDefaultApiBase, lines),
                              Pick(read, L"VELDRA_RAW_URL", kDefaultRawBase, lines),
                              Pick(read, L"VELDRA_ANALYTICS_URL", kDefaultAnalyticsBase, lines)};
  if (notes) *notes = std::move(lines);
  return endpoints;
}

namespace {

struct TEndpointsAtStart {
  TServiceEndpoints Endpoints;
  std::vector<std::wstring> Notes;
};

const TEndpointsAtStart& EndpointsAtStart() {
  static const TEndpointsAtStart state = [] {
    TEndpointsAtStart read;
    read.Endpoints = EndpointsFromEnvironment(
        [](const wchar_t* name) {
          const wchar_t* value = _wgetenv(name);
          return value ? std::optional<std::wstring>(value) : std::nullopt;
        },
        &read.Notes);
    return read;
  }();
  return state;
}

}  // namespace

const TServiceEndpoints& ServiceEndpoints() { return EndpointsAtStart().Endpoints; }

void LogEndpointOverrides() {
  for (const std::wstring& note : EndpointsAtStart().Notes) LogMessage(L"Start", note);
}
