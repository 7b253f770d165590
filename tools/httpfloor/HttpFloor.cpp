// httpfloor LIST PARALLEL: downloads every "URL<TAB>file" line of LIST with
// PARALLEL threads of plain synchronous WinHTTP calls (the launcher's session
// settings, one connection per request, keep-alive off, 8192-byte reads)
// and prints the elapsed seconds and the bytes written. Nothing of the project
// is used: this is the floor the benchmarks compare the launcher with.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TItem {
  std::wstring Host;
  INTERNET_PORT Port = 0;
  std::wstring Path;
  bool Secure = false;
  std::wstring File;
};

std::wstring Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

bool ParseItem(const std::string& line, TItem& item) {
  size_t tab = line.find('\t');
  if (tab == std::string::npos) return false;
  std::wstring url = Widen(line.substr(0, tab));
  item.File = Widen(line.substr(tab + 1));
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  item.Host.assign(parts.lpszHostName, parts.dwHostNameLength);
  item.Path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  item.Path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  item.Port = parts.nPort;
  item.Secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

struct THandle {
  HINTERNET H;
  explicit THandle(HINTERNET h) : H(h) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() {
    if (H) WinHttpCloseHandle(H);
  }
};

struct TFile {
  HANDLE H;
  explicit TFile(const std::wstring& name)
      : H(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr)) {}
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  ~TFile() {
    if (H != INVALID_HANDLE_VALUE) CloseHandle(H);
  }
};

// One exchange; returns the body bytes written, or -1.
long long Fetch(HINTERNET session, const TItem& item) {
  THandle connection(WinHttpConnect(session, item.Host.c_str(), item.Port, 0));
  if (!connection.H) return -1;
  const wchar_t* accept[] = {L"*/*", nullptr};
  THandle request(WinHttpOpenRequest(connection.H, L"GET", item.Path.c_str(), nullptr, WINHTTP_NO_REFERER, accept,
                                     WINHTTP_FLAG_REFRESH | (item.Secure ? WINHTTP_FLAG_SECURE : 0)));
  if (!request.H) return -1;
  DWORD noKeepAlive = WINHTTP_DISABLE_KEEP_ALIVE;
  WinHttpSetOption(request.H, WINHTTP_OPTION_DISABLE_FEATURE, &noKeepAlive, sizeof(noKeepAlive));
  if (!WinHttpSendRequest(request.H, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.H, nullptr)) {
    return -1;
  }
  DWORD status = 0, size = sizeof(status);
  WinHttpQueryHeaders(request.H, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) return -1;
  TFile file(item.File);
  if (file.H == INVALID_HANDLE_VALUE) return -1;
  static thread_local char buffer[8192];
  long long total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.H, &available)) return -1;
    if (available == 0) return total;
    while (available > 0) {
      DWORD read = 0;
      if (!WinHttpReadData(request.H, buffer, sizeof(buffer), &read)) return -1;
      if (read == 0) return total;
      DWORD written = 0;
      if (!WriteFile(file.H, buffer, read, &written, nullptr) || written != read) return -1;
      total += read;
      available = read < available ? available - read : 0;
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: httpfloor LIST PARALLEL\n");
    return 2;
  }
  std::vector<TItem> items;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TItem item;
    if (ParseItem(line, item)) items.push_back(std::move(item));
  }
  int parallel = _wtoi(argv[2]);
  if (parallel < 1) parallel = 1;

  THandle session(WinHttpOpen(L"Mozilla/5.0 (Windows NT 6.3; Win64; x64; Trident/7.0; rv:11.0) like Gecko",
                              WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.H) return 1;
  std::atomic<size_t> next{0};
  std::atomic<long long> bytes{0};
  std::atomic<bool> failed{false};
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < parallel; ++i) {
      threads.emplace_back([&] {
        for (size_t index = next++; index < items.size() && !failed; index = next++) {
          long long n = Fetch(session.H, items[index]);
          if (n < 0) {
            std::fwprintf(stderr, L"httpfloor: %ls%ls failed\n", items[index].Host.c_str(), items[index].Path.c_str());
            failed = true;
          } else {
            bytes += n;
          }
        }
      });
    }
  }
  QueryPerformanceCounter(&stop);
  if (failed) return 1;
  double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::wprintf(L"%.3f %lld\n", seconds, bytes.load());
  return 0;
}
