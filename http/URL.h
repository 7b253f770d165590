#pragma once
// A URL split into the parts an HTTP exchange needs. User names, passwords and
// IPv6 literals are not understood.
#include <cstdint>
#include <string>

struct TURL {
  std::wstring Scheme;   // lower case, without "://"; empty when absent
  std::wstring Server;   // as written
  std::wstring Port;     // decimal text, explicit or the scheme's default
  std::wstring Address;  // path and query, always starting with "/"

  // Parses url (never raises); true when a server name was found. An empty
  // defaultPort means the scheme's own ("443" for https, "80" otherwise).
  bool From(const std::wstring& url, const std::wstring& defaultPort = L"");
  std::wstring FullURL() const;
  // 0 when Port is not a valid number (WinHTTP then uses the scheme's port).
  uint16_t PortInt() const;
  // Address without its query.
  std::wstring Root() const;
  void Clear();
};
