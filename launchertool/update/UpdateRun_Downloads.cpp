// The download queue: the run's lists become work items (map loaders first,
// then plain files), at most 21 of them download at once, and the run
// finishes when every item has ended and every map is packed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "HttpAsyncContext.h"
#include "install/DiskSpace.h"
#include "maps/MapLoader.h"
#include "maps/uMapPacker.h"
#include "uDebugUtils.h"
#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"
#include "update/DownloadGrouping.h"
#include "update/BlobCompare.h"
#include "update/ConnectionRetry.h"
#include "update/PlacedFiles.h"
#include "update/RepositoryPaths.h"
#include "update/RepositoryRequests.h"
#include "update/UpdateRun.h"
#include "update/WritablePaths.h"

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

bool IsWritablePath(const std::wstring& path) { return IsSafeRepositoryPath(path) && !IsInPlayerSubtree(path); }

uint64_t LocalFileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The bytes the run adds to the installation drive at its fullest, where the
// repository gave the sizes (a walk does; a change list does not): a plain
// file needs what it grows by, and the largest one its whole size while it
// stands beside the old one; a map's new archive stands beside the old one
// until it replaces it, so it needs all its fetched bytes.
uint64_t InstallationBytesNeeded(const std::wstring& localPath, const std::vector<std::wstring>& plainFiles,
                                 const std::vector<std::wstring>& mapFiles, const TExpectedBlobs& blobs,
                                 std::optional<uint64_t> free) {
  auto sizeOf = [&](const std::wstring& path) -> uint64_t {
    const auto blob = blobs.find(path);
    return blob == blobs.end() ? 0 : static_cast<uint64_t>(blob->second.Size);
  };
  uint64_t mapBytes = 0;
  for (const std::wstring& path : mapFiles) mapBytes += sizeOf(path);
  uint64_t plainBytes = 0;
  for (const std::wstring& path : plainFiles) plainBytes += sizeOf(path);
  // The installed sizes are read only when the new bytes alone do not fit.
  if (!free || mapBytes + plainBytes <= *free) return mapBytes + plainBytes;
  uint64_t growth = 0;
  uint64_t largest = 0;
  for (const std::wstring& path : plainFiles) {
    const uint64_t size = sizeOf(path);
    const uint64_t old = LocalFileSize(localPath + path);
    if (size > old) growth += size - old;
    largest = std::max(largest, size);
  }
  return mapBytes + growth + largest;
}

}  // namespace

void TUpdateRun::BeginFileLoading() {
  CheckPathsToWrite(FSettings.LocalPath, FFileListToDownload, FFileListToDelete);
  SkipFilesPlacedBefore();
  // Fixed before the first item starts; temporary files never take these names.
  FRunPaths = FFileListToDownload;
  TDownloadGrouping grouping = GroupDownloads(FFileListToDownload, FFileListToDelete);
  if (grouping.LauncherExcluded) LogMessage(L"Update", L"Exclude Launcher from general list.");
  FDownloadLength = grouping.DownloadLength;
  for (TMapChanges& map : grouping.Maps) {
    auto loader = std::make_shared<TMapLoader>(map.Name, FSettings.LocalPath, static_cast<TMapLoaderHost&>(*this));
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

  Status(TUpdateRunStatus::PreparingFolders);
  RequireRoomForDownloads();
  // A path that would lead outside the folder makes no folder; its download fails.
  std::vector<std::wstring> writable;
  for (const std::wstring& path : FPlainFilesToLoad) {
    if (IsWritablePath(path)) writable.push_back(path);
  }
  for (const std::wstring& folder : FoldersToCreate(writable)) {
    CreateFolderTree(WindowsPath(FSettings.LocalPath + folder));
  }
  Status(TUpdateRunStatus::Downloading);
  FProgress = 0;
  FEvents.RunProgress(0, FDownloadLength);

  if (!FLoadedMaps.empty() && !FMapPacker) StartPacker();
  FSlots = TDownloadSlots(static_cast<int32_t>(FLoadedMaps.size() + FPlainFilesToLoad.size()));
  FDownloading = true;
  StartItems();
}

void TUpdateRun::RequireRoomForDownloads() {
  std::vector<std::wstring> mapFiles;
  for (const std::shared_ptr<TMapLoader>& map : FLoadedMaps) {
    for (const auto& entry : map->FExpectedBlobs) {
      mapFiles.push_back(std::wstring(kMapsFolder) + map->MapName() + L"/" + entry.first);
    }
  }
  const std::optional<uint64_t> free = FreeBytesFor(FSettings.LocalPath);
  RequireRoom(FSettings.LocalPath,
              InstallationBytesNeeded(FSettings.LocalPath, FPlainFilesToLoad, mapFiles, FExpectedBlobs, free), free);
}

void TUpdateRun::StartItems() {
  while (const std::optional<int32_t> index = FSlots.Claim()) {
    try {
      StartItem(*index);
    } catch (...) {
      FSlots.Release();
      Fail(CurrentExceptionAsObject());
    }
  }
}

void TUpdateRun::StartItem(int32_t index) {
  // The download text comes back once packing has replaced it.
  if (FPackingShown) Status(TUpdateRunStatus::Downloading);
  const auto maps = static_cast<int32_t>(FLoadedMaps.size());
  if (index < maps) {
    FLoadedMaps[static_cast<size_t>(index)]->BeginLoading();
  } else {
    StartPlainFile(FPlainFilesToLoad.at(static_cast<size_t>(index - maps)));
  }
}

// One plain file through its tries: a retry continues the bytes held.
struct TPlainDownload {
  std::wstring Path;
  std::optional<TBlobId> Expected;
  TRetryCount Count;
  std::shared_ptr<TDownloadTemporary> Held;
  // Written on the worker before the exchange reports, read on the main thread after.
  std::optional<TBlobId> Proven;
};

void TUpdateRun::StartPlainFile(const std::wstring& path) {
  // A change list may name anything; nothing is written outside the folder.
  if (!IsWritablePath(path)) throw EDownloadError(L"Ошибка загрузки файла " + path);
  auto download = std::make_shared<TPlainDownload>();
  download->Path = path;
  const auto blob = FExpectedBlobs.find(path);
  if (blob != FExpectedBlobs.end()) download->Expected = blob->second;
  LogMessage(L"Update", L"Begin file loading:" + path);
  SendPlainFile(download);
}

void TUpdateRun::SendPlainFile(const std::shared_ptr<TPlainDownload>& download) {
  auto response = std::make_unique<TDownloadFileResponse>(FSettings.LocalPath, download->Path, FRunPaths,
                                                          download->Expected, AbortTest(), TemporaryRecord(),
                                                          download->Held);
  download->Held = response->Temporary();
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch;
  args.Path = download->Path;
  TRepositoryRequestTarget target = BuildRepositoryRequest(TRepositoryRequest::File, args);
  target.Range = response->RangeHeader();
  FExchanges.Send(
      target, std::move(response),
      [download](THTTPAsyncContext& context) {
        // Bytes only: the proven file takes its place on the worker.
        auto& loaded = static_cast<TDownloadFileResponse&>(*context.Response());
        loaded.Complete(loaded.HTTPStatus(), loaded.GetIntegerHeaderByName(L"Retry-After"));
        download->Proven = loaded.Proven();
      },
      [this, download](std::shared_ptr<Exception> failure) {
        Step([&] { PlainFileEnded(download, std::move(failure)); });
      });
}

void TUpdateRun::PlainFileEnded(const std::shared_ptr<TPlainDownload>& download, std::shared_ptr<Exception> failure) {
  if (failure) {
    // A body that failed its check is fetched whole; any other keeps its bytes.
    if (ReadFault(*failure).Kind == TFaultKind::BodyCheck) download->Held.reset();
    const bool retrying = RetryLater(
        download->Count, download->Path, *failure, [this, download] { SendPlainFile(download); },
        [this] { ItemEnded(std::make_shared<EAbort>(L"The update run stopped")); });
    if (!retrying) ItemEnded(std::move(failure));
    return;
  }
  download->Held.reset();
  if (download->Proven && FPlacedFiles) FPlacedFiles->Add(download->Path, *download->Proven);
  if (download->Count.Retries || download->Count.BodyCheckRetries) Retried();
  ItemEnded(nullptr);
}

void TUpdateRun::SkipFilesPlacedBefore() {
  FPlacedFiles = std::make_unique<TPlacedFiles>(FSettings.LocalPath);
  const TExpectedBlobs placed = FPlacedFiles->Begin(FNewCommitHash);
  for (const auto& [path, blob] : placed) {
    const auto listed = FFileListToDownload.find(path);
    if (listed == FFileListToDownload.end()) continue;
    TTreeEntry entry;
    entry.Sha = blob.Sha;
    entry.Size = blob.Size;
    bool same = false;
    try {
      same = LocalFileMatches(WindowsPath(FSettings.LocalPath + path), entry);
    } catch (const Exception&) {
      // Unreadable: fetched again.
    }
    if (!same) continue;
    LogMessage(L"Update", L"Placed by an earlier run for this head: " + path);
    FFileListToDownload.erase(listed);
    // Still the file this run makes of it.
    FPlacedFiles->Add(path, blob);
  }
}

void TUpdateRun::ItemEnded(std::shared_ptr<Exception> failure) {
  FSlots.Release();
  if (failure) {
    Fail(failure);
    return;
  }
  AddProgress();
  StartItems();
}

std::function<bool()> TUpdateRun::AbortTest() {
  return [cancelled = FCancelled] { return cancelled->load(); };
}

void TUpdateRun::RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                                std::unique_ptr<THTTPResponse> response, TArrived arrived, TDone done) {
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch;
  args.Path = std::wstring(kMapsFolder) + mapName + L"/" + fileName;
  FExchanges.Send(BuildRepositoryRequest(TRepositoryRequest::File, args), std::move(response), std::move(arrived),
                  [this, done = std::move(done)](std::shared_ptr<Exception> failure) {
                    Step([&] { done(failure); });
                  });
}

void TUpdateRun::MapDownloaded(std::shared_ptr<TMapLoader> map) {
  if (Failed() || !FMapPacker) {
    FSlots.Release();
    return;
  }
  // The next item starts while the map is packed.
  FSlots.HandOn();
  FMapPacker->Add(std::move(map));
  StartItems();
}

void TUpdateRun::MapFailed(std::shared_ptr<TMapLoader>, std::shared_ptr<Exception> error) {
  FSlots.Release();
  Fail(std::move(error));
}

void TUpdateRun::MapPacked(std::shared_ptr<Exception> error) {
  FSlots.WorkDone();
  if (error) Fail(std::move(error));
}
