#include "URL.h"

namespace {

bool IsBlankOrControl(wchar_t c) { return c <= L' '; }

std::wstring DefaultPortOf(const std::wstring& scheme) { return scheme == L"https" ? L"443" : L"80"; }

}  // namespace

bool TURL::From(const std::wstring& url, const std::wstring& defaultPort) {
  Clear();
  size_t first = 0, last = url.size();
  while (first < last && IsBlankOrControl(url[first])) ++first;
  while (last > first && IsBlankOrControl(url[last - 1])) --last;
  std::wstring text = url.substr(first, last - first);
  if (text.empty()) return false;

  size_t hostStart = 0;
  size_t colon = text.find(L':');
  if (colon != std::wstring::npos && text.compare(colon + 1, 2, L"//") == 0) {
    Scheme = text.substr(0, colon);
    for (auto& c : Scheme) {
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    hostStart = colon + 3;
  }

  size_t hostEnd = text.find_first_of(L":/", hostStart);
  if (hostEnd == std::wstring::npos) hostEnd = text.size();
  Server = text.substr(hostStart, hostEnd - hostStart);

  size_t rest = hostEnd;
  if (hostEnd < text.size() && text[hostEnd] == L':') {
    size_t portEnd = text.find(L'/', hostEnd + 1);
    if (portEnd == std::wstring::npos) portEnd = text.size();
    Port = text.substr(hostEnd + 1, portEnd - hostEnd - 1);
    rest = portEnd < text.size() ? portEnd + 1 : portEnd;
  } else {
    Port = defaultPort.empty() ? DefaultPortOf(Scheme) : defaultPort;
  }

  Address = text.substr(rest);
  if (Address.empty() || Address[0] != L'/') Address.insert(0, L"/");
  return !Server.empty();
}

std::wstring TURL::FullURL() const {
  std::wstring result = Scheme == L"https" ? L"https://" : L"http://";
  result += Server;
  if (!Port.empty() && Port != L"0" && Port != DefaultPortOf(Scheme)) result += L":" + Port;
  return result + Address;
}

uint16_t TURL::PortInt() const {
  if (Port.empty() || Port.size() > 5) return 0;
  uint32_t value = 0;
  for (wchar_t c : Port) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - L'0');
  }
  return value <= 0xFFFF ? static_cast<uint16_t>(value) : 0;
}

std::wstring TURL::Root() const { return Address.substr(0, Address.find(L'?')); }

void TURL::Clear() {
  Scheme.clear();
  Server.clear();
  Port.clear();
  Address.clear();
}
