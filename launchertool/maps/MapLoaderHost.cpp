#include "maps/MapLoaderHost.h"

#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "maps/uMapPacker.h"
#include "uLauncher.h"
#include "update/RepositoryRequests.h"

namespace {
TfLauncher& Window() {
  if (!fLauncher) throw Exception(L"The launcher window is gone");
  return *fLauncher;
}
}  // namespace

std::wstring TLauncherMapHost::LocalPath() { return Window().FLocalPath; }
bool TLauncherMapHost::IsError() { return Window().IsError(); }
void TLauncherMapHost::IncrementActiveFiles() { Window().IncrementActiveFiles(); }
void TLauncherMapHost::EndLoadingStep() { Window().EndLoadingStep(); }

void TLauncherMapHost::IncProgress() {
  // Queued: the loader does not wait for the window to paint.
  MainThread::Queue([] {
    if (fLauncher) fLauncher->IncProgress();
  });
}

void TLauncherMapHost::TryLoadNextFile() { Window().TryLoadNextFile(); }

void TLauncherMapHost::CaptionDataPack() {
  if (fLauncher) fLauncher->FPackingCaptionQueued = true;
  MainThread::Queue([] {
    if (fLauncher) fLauncher->CaptionDataPack();
  });
}

void TLauncherMapHost::AddToPacker(TMapLoader* map) {
  TfLauncher& window = Window();
  if (!window.FMapPacker) throw Exception(L"No map packer for this update run");
  window.FMapPacker->Add(map);
}

void TLauncherMapHost::ReportRunFailure(std::shared_ptr<Exception> e) {
  // Other downloads stop at once; the report follows on the main thread.
  if (fLauncher) fLauncher->FErrorOnLoading = true;
  MainThread::Queue([e] {
    if (fLauncher) fLauncher->ReportRunFailure(*e);
  });
}

void TLauncherMapHost::RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                                      std::unique_ptr<THTTPResponse> response, TFileLoaded loaded) {
  TfLauncher& window = Window();
  TRepositoryRequestArgs args;
  args.Branch = window.FCurrentBranch;
  args.Path = L"/data/maps/" + mapName + L"/" + fileName;
  window.SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::File, args), std::move(response),
                         std::move(loaded));
}

const TSortedStringList& TLauncherMapHost::RunPaths() { return Window().FRunPaths; }

TMapLoaderHost& LauncherMapHost() {
  static TLauncherMapHost host;
  return host;
}
