#include "update/DownloadFileResponse.h"

#include <windows.h>

#include "install/OwnedFiles.h"
#include "update/ConnectionRetry.h"
#include "update/DownloadError.h"
#include "update/TemporaryFiles.h"

TDownloadTemporary::TDownloadTemporary(TTemporaryFile temporary, std::shared_ptr<TTemporaryRecord> record)
    : FRecord(std::move(record)), FPath(std::move(temporary.Path)) {
  try {
    FFile = std::make_unique<TFileStream>(FPath, std::move(temporary.File));
  } catch (...) {
    // Closed first: an open file that others may not delete cannot be removed.
    temporary.File.reset();
    DeleteFileW(FPath.c_str());
    throw;
  }
}

TDownloadTemporary::~TDownloadTemporary() {
  FFile.reset();
  if (!FPlaced) DeleteFileW(FPath.c_str());
}

int64_t TDownloadTemporary::Held() const { return FFile ? FFile->GetSize() : 0; }

TDownloadTarget::TDownloadTarget(std::wstring targetPath, std::shared_ptr<TDownloadTemporary> temporary)
    : FTargetPath(std::move(targetPath)), FTemporary(std::move(temporary)) {}

namespace {

std::shared_ptr<TDownloadTemporary> HeldOrNew(std::shared_ptr<TDownloadTemporary> held, const std::wstring& localRoot,
                                              const std::wstring& repositoryPath, const TSortedStringList& runPaths,
                                              const std::shared_ptr<TTemporaryRecord>& record) {
  if (held && held->File()) return held;
  return std::make_shared<TDownloadTemporary>(ClaimTemporaryFile(localRoot, repositoryPath, runPaths, record.get()),
                                              record);
}

}  // namespace

TDownloadFileResponse::TDownloadFileResponse(const std::wstring& localRoot, std::wstring repositoryPath,
                                             const TSortedStringList& runPaths, std::optional<TBlobId> expected,
                                             TSilentTerminator isTerminated,
                                             std::shared_ptr<TTemporaryRecord> record,
                                             std::shared_ptr<TDownloadTemporary> held)
    : TDownloadTarget(localRoot + repositoryPath,
                      HeldOrNew(std::move(held), localRoot, repositoryPath, runPaths, record)),
      TVerifiedStreamResponse(FTemporary->File(), false, std::move(isTerminated), std::move(expected),
                              FTemporary->Held()),
      FRepositoryPath(std::move(repositoryPath)) {
  SetRepositoryPath(FRepositoryPath);
  SetHashWithoutBlob(true);
}

std::wstring TDownloadFileResponse::RangeHeader() const {
  if (ResumedFrom() <= 0) return L"";
  return L"Range: bytes=" + std::to_wstring(ResumedFrom()) + L"-";
}

void TDownloadFileResponse::Complete(int32_t status, uint32_t retryAfterSeconds) {
  RaiseIfTransientStatus(status, retryAfterSeconds, L"Ошибка загрузки файла " + FRepositoryPath);
  if (status != 200 && !(status == 206 && ResumedFrom() > 0)) {
    throw EDownloadError(L"Ошибка загрузки файла " + FRepositoryPath + L" [" + std::to_wstring(status) + L"]");
  }
  Verify(FRepositoryPath);
  // The stream response keeps a pointer to the file, but no data follows the
  // end of the exchange.
  FTemporary->Close();
  const DWORD error = ReplaceOwnedFile(FTemporary->Path(), FTargetPath);
  if (error != ERROR_SUCCESS) RaiseFileOSError(error, FTargetPath);
  FTemporary->MarkPlaced();
}

std::wstring TDownloadFileResponse::KeepTemporary() {
  Verify(FRepositoryPath);
  FTemporary->Close();
  FTemporary->MarkPlaced();
  return FTemporary->Path();
}
