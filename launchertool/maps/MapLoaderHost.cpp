#include "maps/MapLoaderHost.h"

#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "URL.h"
#include "maps/uMapPacker.h"
#include "uLauncher.h"
#include "update/RepositoryRequests.h"

namespace {
TfLauncher& Window() {
  if (!fLauncher) throw Exception(L"The launcher window is gone");
  return *fLauncher;
}

class TLauncherMapHost : public TMapLoaderHost {
 public:
  std::wstring LocalPath() override { return Window().FLocalPath; }
  bool IsError() override { return Window().IsError(); }
  void IncrementActiveFiles() override { Window().IncrementActiveFiles(); }
  void EndLoadingStep() override { Window().EndLoadingStep(); }
  void IncProgress() override {
    MainThread::Synchronize([] {
      if (fLauncher) fLauncher->IncProgress();
    });
  }
  void TryLoadNextFile() override { Window().TryLoadNextFile(); }
  void CaptionDataPack() override {
    MainThread::Queue([] {
      if (fLauncher) fLauncher->CaptionDataPack();
    });
  }
  void AddToPacker(TMapLoader* map) override {
    TfLauncher& window = Window();
    if (!window.FMapPacker) throw Exception(L"No map packer for this update run");
    window.FMapPacker->Add(map);
  }
  void ReportRunFailure(std::shared_ptr<Exception> e) override {
    MainThread::Queue([e] {
      if (fLauncher) fLauncher->ReportRunFailure(*e);
    });
  }
  void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                      std::unique_ptr<THTTPResponse> response, TFileLoaded loaded) override {
    TfLauncher& window = Window();
    TRepositoryRequestArgs args;
    args.Branch = window.FCurrentBranch;
    args.Path = L"/data/maps/" + mapName + L"/" + fileName;
    TRepositoryRequestTarget target = BuildRepositoryRequest(TRepositoryRequest::File, args);
    if (!window.FHttp) throw Exception(L"No HTTP client for this update run");
    TURL url;
    url.From(target.URL);
    auto request = std::make_unique<THTTPGetRequest>();
    if (!target.Header.empty()) request->AddHeader(target.Header);
    request->SetUseSSL(url.Scheme == L"https");
    THTTPAsyncContext* context = window.FHttp->Send(request.get(), response.get(), url);
    // From here the exchange owns its request and response.
    request.release();
    response.release();
    context->SetNeedDestroyAll(true);
    // The loaders belong to the window: their handlers act only while it lives.
    std::weak_ptr<int> alive = window.FAliveToken;
    context->Run(
        [alive, loaded = std::move(loaded)](THTTPAsyncContext* finished) {
          if (!alive.expired()) loaded(*finished);
        },
        true);
  }
};
}  // namespace

TMapLoaderHost& LauncherMapHost() {
  static TLauncherMapHost host;
  return host;
}
