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
#include "update/DownloadError.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"

namespace {
void LogUpdate(const std::wstring& message) { LogMessage(L"Update", message); }
}  // namespace

TMapLoader::TMapLoader(std::wstring name) : FMapName(std::move(name)), FHost(&LauncherMapHost()) {}

TMapLoader::~TMapLoader() {
  FFilesList.clear();
  // Closing writes what the archive holds; an unfinished member is dropped.
  FSavedZip.reset();
  // The canvas file goes with its stream.
  FBitmapRawStream.reset();
}

std::wstring TMapLoader::MapsFolder() const { return FHost->LocalPath() + L"\\data\\maps\\"; }

void TMapLoader::CheckNames() const {
  if (!IsSafeMapName(FMapName)) throw EDownloadError(L"Недопустимое имя карты: " + FMapName + L"!");
  for (const std::wstring& name : FFilesList)
    if (!IsSafeMapFileName(name))
      throw EDownloadError(L"Недопустимое имя файла карты: " + FMapName + L"/" + name + L"!");
}

void TMapLoader::DiscardArchive() {
  try {
    FSavedZip.reset();
  } catch (...) {
  }
  if (!FSavedZipPath.empty() && !FArchivePlaced) DeleteFileW(FSavedZipPath.c_str());
}

void TMapLoader::FailStep() {
  std::shared_ptr<Exception> e = CurrentExceptionAsObject();
  DiscardArchive();
  // The window learns of the failure before the unit comes back, so that a
  // finishing step this may trigger already sees the run failed.
  if (!e->Is<EAbort>()) FHost->ReportRunFailure(e);
  FHost->EndLoadingStep();
  // Reported already: the exchange ends silently.
  throw EAbort(e->Message());
}

void TMapLoader::BeginLoading() {
  LogUpdate(L"Begin map loading:" + FMapName);
  FHost->IncrementActiveFiles();
  bool finished = false;
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
    FSavedZipPath = ClaimTemporaryFile(FHost->LocalPath(), L"/data/maps/" + FMapName, FHost->RunPaths());
    FSavedZip = std::make_unique<TCustomZipFile>();
    FSavedZip->Open(FSavedZipPath, TZipMode::zmReadWrite);
    FCurrentIndex = 0;
    if (!FLoadOrder.empty()) {
      LoadCurrentFile();
    } else {
      FHost->IncProgress();
      FinishLoading();
      finished = true;
    }
  } catch (...) {
    FailStep();
  }
  if (finished) HandToPacker();
}

void TMapLoader::LoadCurrentFile() {
  std::wstring name = CurrentName();
  LogUpdate(L"Begin load map file: " + FMapName + L"\\" + name);
  std::optional<TBlobId> expected;
  const auto blob = FExpectedBlobs.find(name);
  if (blob != FExpectedBlobs.end()) expected = blob->second;
  if (IsMapPiece(name)) {
    auto response = std::make_unique<TVerifiedStreamResponse>(CreateTempStream().release(), true, FHost->AbortTest(),
                                                              std::move(expected));
    FHost->RequestMapFile(FMapName, name, std::move(response),
                          [this](THTTPAsyncContext& context) { OnImagePartLoaded(context); });
  } else {
    TStream* member = FSavedZip->PrepareAddFile(name, zip::kMethodDeflated);
    auto response = std::make_unique<TVerifiedStreamResponse>(member, false, FHost->AbortTest(), std::move(expected));
    FHost->RequestMapFile(FMapName, name, std::move(response),
                          [this](THTTPAsyncContext& context) { OnMapFileLoaded(context); });
  }
}

void TMapLoader::OnImagePartLoaded(THTTPAsyncContext& context) {
  auto& response = static_cast<TVerifiedStreamResponse&>(*context.Response());
  ImagePartLoaded(response.HTTPStatus(), *response.OutStream(),
                  [&response](const std::wstring& path) { response.Verify(path); });
}

void TMapLoader::OnMapFileLoaded(THTTPAsyncContext& context) {
  auto& response = static_cast<TVerifiedStreamResponse&>(*context.Response());
  MapFileLoaded(response.HTTPStatus(), [&response](const std::wstring& path) { response.Verify(path); });
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
  if (FHost->IsError()) {
    LogUpdate(L"Cancel map loading: " + FMapName);
    DiscardArchive();
    FHost->EndLoadingStep();
    return;
  }
  bool finished = false;
  try {
    std::wstring name = CurrentName();
    // A failed reply wrote nothing worth keeping.
    if (status != 200)
      throw EDownloadError(L"Ошибка загрузки файла карты " + FMapName + L"/" + name + L" [" + std::to_wstring(status) +
                           L"]!");
    // A short or wrong body never reaches the archive or the canvas.
    if (verify) verify(RepositoryPath(name));
    LogUpdate(endText + FMapName + L"\\" + name);
    FHost->IncProgress();
    keep(name);
    finished = LoadNextFile();
  } catch (...) {
    FailStep();
  }
  if (finished) HandToPacker();
}

bool TMapLoader::LoadNextFile() {
  ++FCurrentIndex;
  if (FCurrentIndex < static_cast<int32_t>(FLoadOrder.size())) {
    LoadCurrentFile();
    return false;
  }
  FinishLoading();
  return true;
}

void TMapLoader::FinishLoading() {
  LogUpdate(L"Map loading finished: " + FMapName);
  // The successor starts while this map still holds its unit of open work:
  // once the packer has the map, packing may give the unit back at any time.
  FHost->TryLoadNextFile();
}

void TMapLoader::HandToPacker() {
  // The packer owns the map from here; nothing of it may be touched after Add.
  try {
    FHost->AddToPacker(this);
  } catch (...) {
    FailStep();
  }
}
