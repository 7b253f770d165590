#include "update/DownloadFileResponse.h"

#include <windows.h>

#include "update/DownloadError.h"

TDownloadTarget::TDownloadTarget(std::wstring targetPath)
    : FTargetPath(std::move(targetPath)),
      FTemporaryPath(FTargetPath + kDownloadSuffix),
      FFile(std::make_unique<TFileStream>(FTemporaryPath, fmCreate)) {}

TDownloadTarget::~TDownloadTarget() {
  FFile.reset();
  if (!FPlaced) DeleteFileW(FTemporaryPath.c_str());
}

TDownloadFileResponse::TDownloadFileResponse(std::wstring repositoryPath, std::wstring targetPath,
                                             TSilentTerminator isTerminated)
    : TDownloadTarget(std::move(targetPath)),
      THTTPStreamResponse(FFile.get(), false, std::move(isTerminated), true),
      FRepositoryPath(std::move(repositoryPath)) {}

void TDownloadFileResponse::Complete(int32_t status) {
  if (status != 200) {
    throw EDownloadError(L"Ошибка загрузки файла " + FRepositoryPath + L" [" + std::to_wstring(status) + L"]");
  }
  // The stream response keeps a pointer to the file, but no data follows the
  // end of the exchange.
  FFile.reset();
  if (!MoveFileExW(FTemporaryPath.c_str(), FTargetPath.c_str(), MOVEFILE_REPLACE_EXISTING)) RaiseLastOSError();
  FPlaced = true;
}
