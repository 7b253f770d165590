// The download queue: the run's lists become work items (map loaders first,
// then plain files), at most 21 of them download at once, and the item that
// ends the last open work queues the finishing step.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "HttpAsyncContext.h"
#include "MainThreadQueue.h"
#include "maps/MapLoader.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"
#include "update/DownloadGrouping.h"
#include "update/LoadingCounters.h"
#include "update/RepositoryPaths.h"
#include "update/RepositoryRequests.h"

namespace {

// Creates a folder with all its missing parents; failures show up when the
// files inside are created.
void CreateFolderTree(const std::wstring& folder) {
  for (size_t slash = folder.find(L'\\', 3); slash != std::wstring::npos; slash = folder.find(L'\\', slash + 1)) {
    CreateDirectoryW(folder.substr(0, slash).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
}

std::wstring WindowsPath(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

template <class Method>
void QueueOnWindow(Method method) {
  MainThread::Queue([method] {
    if (fLauncher) (fLauncher->*method)();
  });
}

}  // namespace

void TfLauncher::BeginFileLoading() {
  // Fixed before the first item starts; temporary files never take these names.
  FRunPaths = FFileListToDownload;
  TDownloadGrouping grouping = GroupDownloads(FFileListToDownload, FFileListToDelete);
  if (grouping.LauncherExcluded) LogMessage(L"Update", L"Exclude Launcher from general list.");
  FDownloadLength = grouping.DownloadLength;
  for (TMapChanges& map : grouping.Maps) {
    auto loader = std::make_unique<TMapLoader>(map.Name);
    loader->FFilesList.insert(map.FilesToFetch.begin(), map.FilesToFetch.end());
    loader->FFilesToDelete.insert(map.FilesToDelete.begin(), map.FilesToDelete.end());
    const std::wstring folder = std::wstring(kMapsFolder) + map.Name + L"/";
    for (const std::wstring& name : map.FilesToFetch) {
      const auto blob = FExpectedBlobs.find(folder + name);
      if (blob != FExpectedBlobs.end()) loader->FExpectedBlobs[name] = blob->second;
    }
    FRunPaths.insert(std::wstring(kMapsFolder) + map.Name + L".zip");
    FLoadedMaps.push_back(std::move(loader));
  }
  FPlainFilesToLoad.assign(FFileListToDownload.begin(), FFileListToDownload.end());

  wchar_t message[160];
  std::swprintf(message, std::size(message),
                L"Begin file loading. Operations count: %d; Files count: %d. Maps count: %d", FDownloadLength,
                static_cast<int>(FPlainFilesToLoad.size()), static_cast<int>(FLoadedMaps.size()));
  LogMessage(L"Update", message);

  MainThread::Synchronize([this] { CaptionFolderPreparing(); });
  // A path that would lead outside the folder makes no folder; its download fails.
  std::vector<std::wstring> writable;
  for (const std::wstring& path : FPlainFilesToLoad) {
    if (IsSafeRepositoryPath(path) && !IsInPlayerSubtree(path)) writable.push_back(path);
  }
  for (const std::wstring& folder : FoldersToCreate(writable)) {
    CreateFolderTree(WindowsPath(FLocalPath + folder));
  }
  MainThread::Synchronize([this] { StateFileLoading(); });
  MainThread::Synchronize([this] { ResetProgress(); });

  const auto itemCount = static_cast<int32_t>(FLoadedMaps.size() + FPlainFilesToLoad.size());
  StartFirstItems(
      FLoadingCount, FFileOffset, itemCount, [this] { return IsError(); },
      [this](int32_t index) { StartLoadingItem(index); }, [this] { EndLoadingStep(); });
}

void TfLauncher::StartLoadingItem(int32_t index) {
  try {
    // The download text needs restoring only after packing replaced it; a
    // main-thread round trip per item would cost more than the item.
    if (FPackingCaptionQueued.exchange(false)) QueueOnWindow(&TfLauncher::CaptionFileLoading);
    const auto maps = static_cast<int32_t>(FLoadedMaps.size());
    if (index < maps) {
      FLoadedMaps[static_cast<size_t>(index)]->BeginLoading();
      return;
    }
    IncrementActiveFiles();
    try {
      const std::wstring& path = FPlainFilesToLoad.at(static_cast<size_t>(index - maps));
      // A change list may name anything; nothing is written outside the folder.
      if (!IsSafeRepositoryPath(path) || IsInPlayerSubtree(path)) {
        throw EDownloadError(L"Ошибка загрузки файла " + path);
      }
      const auto blob = FExpectedBlobs.find(path);
      std::optional<TBlobId> expected;
      if (blob != FExpectedBlobs.end()) expected = blob->second;
      auto response = std::make_unique<TDownloadFileResponse>(FLocalPath, path, FRunPaths, std::move(expected),
                                                              [this] { return IsError(); });
      LogMessage(L"Update", L"Begin file loading:" + path);
      TRepositoryRequestArgs args;
      args.Branch = FCurrentBranch;
      args.Path = path;
      SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::File, args), std::move(response),
                      &TfLauncher::OnFileLoaded);
    } catch (...) {
      // Never the last work: the starter's hold or the caller's own count is
      // still held.
      FLoadingCount.fetch_sub(1);
      throw;
    }
  } catch (...) {
    // Set before any count is released, so that a finishing step queued
    // ahead of the failure's report already sees the run as failed.
    FErrorOnLoading = true;
    throw;
  }
}

void TfLauncher::OnFileLoaded(THTTPAsyncContext& context) {
  try {
    if (!IsError()) {
      auto& response = static_cast<TDownloadFileResponse&>(*context.Response());
      response.Complete(response.HTTPStatus());
      // Queued, not waited for: the worker goes on with the next item, and
      // the queue's order still puts every step before the finishing step.
      QueueOnWindow(&TfLauncher::IncProgress);
      TryLoadNextFile();
    }
  } catch (...) {
    // The finishing step that this release may queue runs before the report
    // of the failure: it must already see the run as failed.
    FErrorOnLoading = true;
    EndLoadingStep();
    throw;
  }
  EndLoadingStep();
}

void TfLauncher::TryLoadNextFile() {
  const auto itemCount = static_cast<int32_t>(FLoadedMaps.size() + FPlainFilesToLoad.size());
  StartNextItem(
      FFileOffset, itemCount, [this] { return IsError(); }, [this](int32_t index) { StartLoadingItem(index); });
}

void TfLauncher::IncrementActiveFiles() { FLoadingCount.fetch_add(1); }

void TfLauncher::EndLoadingStep() {
  if (ReleaseOpenWork(FLoadingCount)) QueueOnWindow(&TfLauncher::FinishUpdate);
}

void TfLauncher::IncProgress() { SetProgressPosition(FProgressPosition + 1); }

void TfLauncher::ResetProgress() {
  SetProgressRange(FDownloadLength);
  SetProgressPosition(0);
}

void TfLauncher::CaptionFolderPreparing() { SetStatusText(L"Подготовка места..."); }

void TfLauncher::CaptionFileLoading() { SetStatusText(L"Загрузка файлов... Скорость зависит от вашего интернета."); }

void TfLauncher::CaptionDataPack() {
  SetStatusText(
      L"Упаковка файлов... Это может занять несколько минут. Зависит от мощности вашего компьютера. Не закрывайте "
      L"лаунчер.");
}

void TfLauncher::CaptionFinishLoading() { SetStatusText(L"Завершение обновления... Осталось совсем немного..."); }
