// The Update button and the first steps of a run.
#include <windows.h>

#include <vector>

#include "HttpAsyncContext.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "maps/MapLoader.h"
#include "maps/uMapPacker.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/CommitHash.h"
#include "update/DownloadError.h"
#include "update/RepositoryRequests.h"
#include "update/StepMessages.h"

void TfLauncher::BTN_UpdateClick() {
  if (FLocalPath.empty() && !ChooseInstallFolder()) return;
  FLauncherUpdated = false;
  LogMessage(L"Update", L"Begin");
  SendUpdateEvent(L"begin", false);
  SetBusy(true);
  LogMessage(L"Update", L"CheckAndGetAccess");
  try {
    if (!CheckAndGetAccess(false)) return;
    LogMessage(L"Update", L"Has access");
    FFullListToDownload.clear();
    if (FLastCommitHash.empty()) {
      FNextUpdateState = [this] { TryFullUpdate(); };
    } else {
      FProcessingHash = FLastCommitHash;
      if (FNewCommitHash.empty()) {
        FNextUpdateState = [this] { TryGetVersion(); };
      } else {
        FNextUpdateState = [this] { GetChangesList(); };
      }
    }
    // The report of a failed tree listing arrives after that run's finishing
    // step and sets the flag again; a new run must not inherit it.
    FErrorOnLoading = false;
    PrepareUpdateRun([this] { TryGetNewLauncher(); });
  } catch (...) {
    SendUpdateEvent(L"begin", true);
    throw;
  }
}

void TfLauncher::PrepareUpdateRun(std::function<void()> firstStep) {
  StateGettingFileList();
  FUpdateState = urSuccess;
  DiscardLoadingWork();
  FFileListToDelete.clear();
  FFileListToDownload.clear();
  FFullListToDownload.clear();
  FURLsToDownload.clear();
  FExpectedBlobs.clear();
  FMapPacker = std::make_unique<TMapPacker>();
  firstStep();
  ShowWindow(ProgressBar, SW_SHOWNA);
}

void TfLauncher::DiscardLoadingWork() {
  // The packer is stopped before the loaders it may still refer to go; the
  // field is cleared first so nothing reaches a packer being destroyed.
  std::unique_ptr<TMapPacker> packer = std::move(FMapPacker);
  packer.reset();
  // The new archives of maps that failed or were cancelled go with their loaders.
  std::vector<std::wstring> unplaced;
  for (const auto& loader : FLoadedMaps) unplaced.push_back(loader->UnplacedArchivePath());
  FLoadedMaps.clear();
  for (const std::wstring& path : unplaced) {
    if (!path.empty()) DeleteFileW(path.c_str());
  }
  FPlainFilesToLoad.clear();
  FRunPaths.clear();
}

void TfLauncher::TryGetVersion() {
  LogMessage(L"Update", L"Try get version");
  RequestHeadCommit(&TfLauncher::OnVersionLoaded);
}

void TfLauncher::OnVersionLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  if (response->HTTPStatus() != 200) {
    TryFullUpdate();
    return;
  }
  // The head goes into request paths and into .last.
  if (!IsCommitHash(response->Result())) throw EDownloadError(kFileListFailedMessage);
  FNewCommitHash = response->Result();
  if (FNewCommitHash != FLastCommitHash) {
    GetChangesList();
    return;
  }
  MainThread::Queue([] {
    if (fLauncher) fLauncher->FinishUpdate();
  });
}
