// The loading chain of a map: one download at a time, in the sorted order of
// FFilesList; ordinary files stream into <map>.download, pieces into
// temporary files and from there onto the canvas.
#include "maps/MapLoader.h"

#include <windows.h>

#include <optional>

#include "HttpAsyncContext.h"
#include "HttpResponse.h"
#include "Streams.h"
#include "maps/MapLoaderHost.h"
#include "maps/MapPieceName.h"
#include "maps/TempFileStream.h"
#include "uDebugUtils.h"
#include "uZipFixes.h"
#include "update/ConnectionRetry.h"
#include "update/DownloadError.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"

namespace {
void LogUpdate(const std::wstring& message) { LogMessage(L"Update", message); }
}  // namespace

TMapLoader::TMapLoader(std::wstring name, std::wstring localPath, TMapLoaderHost& host)
    : FMapName(std::move(name)), FLocalPath(std::move(localPath)), FHost(&host), FIsCancelled(host.AbortTest()) {}

TMapLoader::~TMapLoader() {
  FFilesList.clear();
  // The canvas file goes with its stream.
  FBitmapRawStream.reset();
  DiscardArchive();
}

std::wstring TMapLoader::MapsFolder() const { return FLocalPath + L"\\data\\maps\\"; }

void TMapLoader::CheckNames() const {
  if (!IsSafeMapName(FMapName)) throw EDownloadError(L"Недопустимое имя карты: " + FMapName + L"!");
  for (const std::wstring& name : FFilesList)
    if (!IsSafeMapFileName(name))
      throw EDownloadError(L"Недопустимое имя файла карты: " + FMapName + L"/" + name + L"!");
}

void TMapLoader::DiscardArchive() {
  // Closing writes what the archive holds; an unfinished member is dropped.
  try {
    FSavedZip.reset();
  } catch (...) {
  }
  if (!FSavedZipPath.empty() && !FArchivePlaced) DeleteFileW(FSavedZipPath.c_str());
}

void TMapLoader::Fail(std::shared_ptr<Exception> error) {
  DiscardArchive();
  FHost->MapFailed(shared_from_this(), std::move(error));
}

void TMapLoader::BeginLoading() {
  LogUpdate(L"Begin map loading:" + FMapName);
  try {
    CheckNames();
    FLoadOrder.assign(FFilesList.begin(), FFilesList.end());
    for (const std::wstring& name : FLoadOrder) {
      if (IsMapPiece(name)) {
        LogUpdate(L"Map:" + FMapName + L". Need merge");
        PrepareMerge();
        break;
      }
    }
    // A name no file of the installation or of this run has.
    FTemporaryRecord = FHost->TemporaryRecord();
    FSavedZipPath =
        ClaimTemporaryFile(FLocalPath, L"/data/maps/" + FMapName, FHost->RunPaths(), FTemporaryRecord.get()).Path;
    FSavedZip = std::make_unique<TCustomZipFile>();
    FSavedZip->Open(FSavedZipPath, TZipMode::zmReadWrite);
    FCurrentIndex = 0;
    if (FLoadOrder.empty()) {
      FHost->MapFileLoaded();
      FinishLoading();
      return;
    }
    LoadCurrentFile();
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
}

void TMapLoader::LoadCurrentFile() {
  std::wstring name = CurrentName();
  LogUpdate(L"Begin load map file: " + FMapName + L"\\" + name);
  std::optional<TBlobId> expected;
  const auto blob = FExpectedBlobs.find(name);
  if (blob != FExpectedBlobs.end()) expected = blob->second;
  // The reply's handlers hold the loader: it outlives the exchange.
  std::shared_ptr<TMapLoader> self = shared_from_this();
  TMapLoaderHost::TDone done = [self](std::shared_ptr<Exception> failure) { self->FileDone(std::move(failure)); };
  if (IsMapPiece(name)) {
    // Refused before a byte of it is fetched or decoded.
    if (expected && expected->Size > kLargestPieceBytes) {
      throw EDownloadError(L"Часть изображения карты слишком велика: " + FMapName + L"/" + name + L"!");
    }
    auto response =
        std::make_unique<TVerifiedStreamResponse>(CreateTempStream().release(), true, FIsCancelled, std::move(expected));
    response->SetLargest(kLargestPieceBytes);
    response->SetRepositoryPath(RepositoryPath(name));
    FHost->RequestMapFile(
        FMapName, name, std::move(response),
        [self](THTTPAsyncContext& context) {
          auto& response = static_cast<TVerifiedStreamResponse&>(*context.Response());
          self->ImagePartLoaded(response.HTTPStatus(), *response.OutStream(),
                                [&response](const std::wstring& path) { response.Verify(path); });
        },
        std::move(done));
  } else {
    TStream* member = FSavedZip->PrepareAddFile(name, zip::kMethodDeflated);
    auto response = std::make_unique<TVerifiedStreamResponse>(member, false, FIsCancelled, std::move(expected));
    response->SetRepositoryPath(RepositoryPath(name));
    FHost->RequestMapFile(
        FMapName, name, std::move(response),
        [self](THTTPAsyncContext& context) {
          auto& response = static_cast<TVerifiedStreamResponse&>(*context.Response());
          self->MapFileLoaded(response.HTTPStatus(), [&response](const std::wstring& path) { response.Verify(path); });
        },
        std::move(done));
  }
}

void TMapLoader::ImagePartLoaded(int32_t status, TStream& piece, const TVerify& verify) {
  FileLoaded(status, L"End load map image file: ", verify,
             [&](const std::wstring& name) { PlacePiece(name, piece); });
}

void TMapLoader::MapFileLoaded(int32_t status, const TVerify& verify) {
  // After a failed reply the member stays unfinished and the archive is never packed.
  FileLoaded(status, L"End load map file: ", verify, [&](const std::wstring&) { FSavedZip->EndAddFile(); });
}

std::wstring TMapLoader::RepositoryPath(const std::wstring& name) const {
  return L"/data/maps/" + FMapName + L"/" + name;
}

void TMapLoader::FileLoaded(int32_t status, const wchar_t* endText, const TVerify& verify,
                            const std::function<void(const std::wstring&)>& keep) {
  if (Cancelled()) {
    LogUpdate(L"Cancel map loading: " + FMapName);
    throw EAbort(L"Map loading cancelled: " + FMapName);
  }
  std::wstring name = CurrentName();
  // A failed reply wrote nothing worth keeping.
  RaiseIfTransientStatus(status, 0, L"Ошибка загрузки файла карты " + FMapName + L"/" + name);
  if (status != 200)
    throw EDownloadError(L"Ошибка загрузки файла карты " + FMapName + L"/" + name + L" [" + std::to_wstring(status) +
                         L"]!");
  // A short or wrong body never reaches the archive or the canvas.
  if (verify) verify(RepositoryPath(name));
  LogUpdate(endText + FMapName + L"\\" + name);
  keep(name);
}

void TMapLoader::FileDone(std::shared_ptr<Exception> failure) {
  if (!failure && Cancelled()) failure = std::make_shared<EAbort>(L"Map loading cancelled: " + FMapName);
  if (failure) {
    std::shared_ptr<TMapLoader> self = shared_from_this();
    const bool retrying = !Cancelled() && FHost->RetryLater(
        FRetryCount, RepositoryPath(CurrentName()), *failure, [self] { self->RetryCurrentFile(); },
        [self] { self->Fail(std::make_shared<EAbort>(L"Map loading cancelled: " + self->FMapName)); });
    if (!retrying) Fail(std::move(failure));
    return;
  }
  try {
    if (FRetryCount.Retries || FRetryCount.BodyCheckRetries) FHost->Retried();
    FRetryCount = {};
    FHost->MapFileLoaded();
    ++FCurrentIndex;
    if (FCurrentIndex < static_cast<int32_t>(FLoadOrder.size())) {
      LoadCurrentFile();
    } else {
      FinishLoading();
    }
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
}

void TMapLoader::RetryCurrentFile() {
  try {
    // What the failed try wrote of a member goes; a piece had its own file.
    if (!IsMapPiece(CurrentName())) FSavedZip->AbandonAddFile();
    LoadCurrentFile();
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
}

void TMapLoader::FinishLoading() {
  LogUpdate(L"Map loading finished: " + FMapName);
  FHost->MapDownloaded(shared_from_this());
}
