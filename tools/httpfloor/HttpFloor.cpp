// httpfloor LIST PARALLEL [async]: downloads every "URL<TAB>file" line of LIST
// with PARALLEL threads of plain synchronous WinHTTP calls (the launcher's
// session settings, one connection per request, keep-alive off, 8192-byte
// reads) and prints the elapsed seconds and the bytes written. Nothing of the
// project is used: this is the floor the benchmarks compare the launcher with.
// With "async" the same exchanges run on one asynchronous session, PARALLEL at
// a time, driven by a bare status callback: what WinHTTP's asynchronous mode
// costs by itself, to tell it from what the launcher's client adds.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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


// One asynchronous exchange: the notifications of its request drive it, the
// next item starts when it ends.
class TAsyncFloor {
 public:
  TAsyncFloor(HINTERNET session, const std::vector<TItem>& items)
      : FSession(session), FItems(items), FExchanges(items.size()), FDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~TAsyncFloor() { CloseHandle(FDone); }

  bool Run(int parallel) {
    if (FItems.empty()) return true;
    for (int i = 0; i < parallel; ++i) StartNext();
    WaitForSingleObject(FDone, INFINITE);
    return true;
  }
  long long Bytes() const { return FBytes.load(); }

 private:
  struct TExchange {
    TAsyncFloor* Owner = nullptr;
    const TItem* Item = nullptr;
    HINTERNET Connection = nullptr;
    HINTERNET Request = nullptr;
    HANDLE File = INVALID_HANDLE_VALUE;
    DWORD Available = 0;
    long long Total = 0;
    char Buffer[8192];
  };

  static void CALLBACK Callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* exchange = reinterpret_cast<TExchange*>(context);
    if (exchange && exchange->Owner) exchange->Owner->Step(*exchange, status, info, length);
  }

  void StartNext() {
    size_t index = FNext++;
    if (index >= FItems.size()) return;
    TExchange& x = FExchanges[index];
    x.Owner = this;
    x.Item = &FItems[index];
    const wchar_t* accept[] = {L"*/*", nullptr};
    x.Connection = WinHttpConnect(FSession, x.Item->Host.c_str(), x.Item->Port, 0);
    if (x.Connection) {
      x.Request = WinHttpOpenRequest(x.Connection, L"GET", x.Item->Path.c_str(), nullptr, WINHTTP_NO_REFERER, accept,
                                     WINHTTP_FLAG_REFRESH | (x.Item->Secure ? WINHTTP_FLAG_SECURE : 0));
    }
    DWORD noKeepAlive = WINHTTP_DISABLE_KEEP_ALIVE;
    if (!x.Request || !WinHttpSetOption(x.Request, WINHTTP_OPTION_DISABLE_FEATURE, &noKeepAlive, sizeof(noKeepAlive)) ||
        WinHttpSetStatusCallback(x.Request, Callback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
            WINHTTP_INVALID_STATUS_CALLBACK ||
        !WinHttpSendRequest(x.Request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            reinterpret_cast<DWORD_PTR>(&x))) {
      End(x, false);
    }
  }

  void Step(TExchange& x, DWORD status, LPVOID info, DWORD length) {
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!WinHttpReceiveResponse(x.Request, nullptr)) End(x, false);
        break;
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
        DWORD code = 0, size = sizeof(code);
        WinHttpQueryHeaders(x.Request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
        x.File = code == 200 ? CreateFileW(x.Item->File.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE;
        if (x.File == INVALID_HANDLE_VALUE || !WinHttpQueryDataAvailable(x.Request, nullptr)) End(x, false);
        break;
      }
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        x.Available = *static_cast<DWORD*>(info);
        if (x.Available == 0) {
          End(x, true);
        } else if (!WinHttpReadData(x.Request, x.Buffer, sizeof(x.Buffer), nullptr)) {
          End(x, false);
        }
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: {
        if (length == 0) {
          End(x, true);
          break;
        }
        DWORD written = 0;
        if (!WriteFile(x.File, info, length, &written, nullptr) || written != length) {
          End(x, false);
          break;
        }
        x.Total += length;
        bool more = x.Available > length;
        x.Available = more ? x.Available - length : 0;
        if (!(more ? WinHttpReadData(x.Request, x.Buffer, sizeof(x.Buffer), nullptr)
                   : WinHttpQueryDataAvailable(x.Request, nullptr))) {
          End(x, false);
        }
        break;
      }
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        End(x, false);
        break;
      default:
        break;
    }
  }

  void End(TExchange& x, bool succeeded) {
    if (x.File != INVALID_HANDLE_VALUE) CloseHandle(x.File);
    x.File = INVALID_HANDLE_VALUE;
    // No notification of the closing handle may reach x: the object goes
    // before WinHTTP has freed every closed handle.
    x.Owner = nullptr;
    if (x.Request) {
      WinHttpSetStatusCallback(x.Request, nullptr, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
      WinHttpCloseHandle(x.Request);
    }
    if (x.Connection) WinHttpCloseHandle(x.Connection);
    if (!succeeded) {
      // Other exchanges are still running on this object: end here.
      std::fwprintf(stderr, L"httpfloor: %ls%ls failed\n", x.Item->Host.c_str(), x.Item->Path.c_str());
      ExitProcess(1);
    }
    FBytes += x.Total;
    StartNext();
    if (++FEnded == FItems.size()) SetEvent(FDone);
  }

  HINTERNET FSession;
  const std::vector<TItem>& FItems;
  std::vector<TExchange> FExchanges;
  HANDLE FDone;
  std::atomic<size_t> FNext{0};
  std::atomic<size_t> FEnded{0};
  std::atomic<long long> FBytes{0};
};

bool FetchSynchronously(HINTERNET session, const std::vector<TItem>& items, int parallel, long long& bytesOut) {
  std::atomic<size_t> next{0};
  std::atomic<long long> bytes{0};
  std::atomic<bool> failed{false};
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < parallel; ++i) {
      threads.emplace_back([&] {
        for (size_t index = next++; index < items.size() && !failed; index = next++) {
          long long n = Fetch(session, items[index]);
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
  bytesOut = bytes.load();
  return !failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: httpfloor LIST PARALLEL [async]\n");
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
  bool async = argc > 3 && std::wcscmp(argv[3], L"async") == 0;

  THandle session(WinHttpOpen(L"Mozilla/5.0 (Windows NT 6.3; Win64; x64; Trident/7.0; rv:11.0) like Gecko",
                              WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                              async ? WINHTTP_FLAG_ASYNC : 0));
  // The launcher's timeouts (resolve, connect, send, receive): under Wine a
  // resolve timeout moves every name lookup to a pool thread, so it is part
  // of what the platform costs for the same exchanges.
  if (!session.H || !WinHttpSetTimeouts(session.H, 60000, 60000, 60000, 60000)) return 1;
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  long long bytes = 0;
  bool succeeded;
  if (async) {
    TAsyncFloor floor(session.H, items);
    succeeded = floor.Run(parallel);
    bytes = floor.Bytes();
  } else {
    succeeded = FetchSynchronously(session.H, items, parallel, bytes);
  }
  QueryPerformanceCounter(&stop);
  if (!succeeded) return 1;
  double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::wprintf(L"%.3f %lld\n", seconds, bytes);
  return 0;
}
