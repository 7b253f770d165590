#include "update/DownloadFileResponse.h"

#include <windows.h>

#include "install/OwnedFiles.h"
#include "update/DownloadError.h"
#include "update/TemporaryFiles.h"

TDownloadTarget::TDownloadTarget(std::wstring targetPath, TTemporaryFile temporary,
                                 std::shared_ptr<TTemporaryRecord> record)
    : FRecord(std::move(record)), FTargetPath(std::move(targetPath)), FTemporaryPath(std::move(temporary.Path)) {
  try {
    FFile = std::make_unique<TFileStream>(FTemporaryPath, std::move(temporary.File));
  } catch (...) {
    // Closed first: an open file that others may not delete cannot be removed.
    temporary.File.reset();
    DeleteFileW(FTemporaryPath.c_str());
    throw;
  }
}

TDownloadTarget::~TDownloadTarget() {
  FFile.reset();
  if (!FPlaced) DeleteFileW(FTemporaryPath.c_str());
}

TDownloadFileResponse::TDownloadFileResponse(const std::wstring& localRoot, std::wstring repositoryPath,
                                             const TSortedStringList& runPaths, std::optional<TBlobId> expected,
                                             TSilentTerminator isTerminated,
                                             std::shared_ptr<TTemporaryRecord> record)
    : TDownloadTarget(localRoot + repositoryPath, ClaimTemporaryFile(localRoot, repositoryPath, runPaths, record.get()),
                      record),
      TVerifiedStreamResponse(FFile.get(), false, std::move(isTerminated), std::move(expected)),
      FRepositoryPath(std::move(repositoryPath)) {}

void TDownloadFileResponse::Complete(int32_t status, const TAttemptGuard& placeGuard) {
  if (status != 200) {
    throw EDownloadError(L"Ошибка загрузки файла " + FRepositoryPath + L" [" + std::to_wstring(status) + L"]");
  }
  Verify(FRepositoryPath);
  // The stream response keeps a pointer to the file, but no data follows the
  // end of the exchange.
  FFile.reset();
  const DWORD error = ReplaceOwnedFile(FTemporaryPath, FTargetPath, placeGuard);
  if (error == ERROR_CANCELLED && placeGuard) throw EAbort(L"Download cancelled: " + FRepositoryPath);
  if (error != ERROR_SUCCESS) RaiseFileOSError(error, FTargetPath);
  FPlaced = true;
}

std::wstring TDownloadFileResponse::KeepTemporary() {
  Verify(FRepositoryPath);
  FFile.reset();
  FPlaced = true;
  return FTemporaryPath;
}
