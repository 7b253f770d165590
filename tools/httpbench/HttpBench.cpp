// httpbench LIST PARALLEL: downloads every "URL<TAB>file" line of LIST, keeping
// PARALLEL asynchronous exchanges of one client running, each started from the
// end of the previous one, and prints the elapsed time of the whole set.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "MainThreadQueue.h"
#include "WinHTTP.h"

namespace {

struct TItem {
  std::wstring Url;
  std::wstring File;
};

std::wstring Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

class TDownloader {
 public:
  explicit TDownloader(std::vector<TItem> items) : FItems(std::move(items)) {}

  void StartNext() {
    size_t index = FNext.fetch_add(1);
    if (index >= FItems.size()) return;
    const TItem& item = FItems[index];
    TURL url;
    url.From(item.Url);
    auto* request = new THTTPGetRequest;
    request->SetUseSSL(url.Scheme == L"https");
    auto* response = new THTTPStreamResponse(new TFileStream(item.File, fmCreate), true, nullptr, true);
    THTTPAsyncContext* context = FClient.Send(request, response, url);
    context->SetNeedDestroyAll(true);
    context->Run([this](THTTPAsyncContext* c) { Loaded(c); }, true);
  }

  bool Done() const { return FFinished.load() == FItems.size(); }
  size_t Failed() const { return FFailed.load(); }
  uint64_t Bytes() const { return FBytes.load(); }

 private:
  void Loaded(THTTPAsyncContext* context) {
    if (context->Response()->HTTPStatus() != 200) ++FFailed;
    FBytes += static_cast<uint64_t>(context->Response()->DataSize());
    ++FFinished;
    StartNext();
  }

  std::vector<TItem> FItems;
  THTTPClient FClient{kDefaultUserAgent, L"", L"", true};
  std::atomic<size_t> FNext{0};
  std::atomic<size_t> FFinished{0};
  std::atomic<size_t> FFailed{0};
  std::atomic<uint64_t> FBytes{0};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: httpbench LIST PARALLEL\n");
    return 2;
  }
  std::vector<TItem> items;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t tab = line.find('\t');
    if (tab != std::string::npos) items.push_back({Widen(line.substr(0, tab)), Widen(line.substr(tab + 1))});
  }
  int parallel = _wtoi(argv[2]);

  MainThread::Initialize();
  bool failed = false;
  MainThread::SetExceptionHandler([&](const Exception& e) {
    std::fwprintf(stderr, L"httpbench: %ls\n", e.GetBaseException().Message().c_str());
    failed = true;
  });

  TDownloader downloader(std::move(items));
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  try {
    for (int i = 0; i < parallel; ++i) downloader.StartNext();
  } catch (const Exception& e) {
    std::fwprintf(stderr, L"httpbench: %ls\n", e.Message().c_str());
    return 1;
  }
  while (!downloader.Done() && !failed) MainThread::PumpUntil([&] { return downloader.Done() || failed; }, 1000);
  QueryPerformanceCounter(&stop);
  if (failed || downloader.Failed() != 0) return 1;
  double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::wprintf(L"%.3f %llu\n", seconds, static_cast<unsigned long long>(downloader.Bytes()));
  return 0;
}
