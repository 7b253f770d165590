#pragma once
// The response of one plain download: the body goes into a temporary file
// beside the target, which replaces the target only when the whole reply
// arrived with status 200 and proved itself (length, and the blob where the
// repository named one). The temporary file is removed on every other path,
// so a failed download leaves the player's file as it was.
#include <memory>
#include <optional>
#include <string>

#include "Streams.h"
#include "install/OwnedFiles.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"

// Owns the temporary file; a base of the response so that it is created
// before the stream response uses it and goes after it.
class TDownloadTarget {
 protected:
  TDownloadTarget(std::wstring targetPath, TTemporaryFile temporary, std::shared_ptr<TTemporaryRecord> record);
  ~TDownloadTarget();
  TDownloadTarget(const TDownloadTarget&) = delete;
  TDownloadTarget& operator=(const TDownloadTarget&) = delete;

  // First, so that it goes last: after the temporary file is gone.
  std::shared_ptr<TTemporaryRecord> FRecord;
  std::wstring FTargetPath;
  std::wstring FTemporaryPath;
  std::unique_ptr<TFileStream> FFile;
  bool FPlaced = false;
};

class TDownloadFileResponse : private TDownloadTarget, public TVerifiedStreamResponse {
 public:
  // repositoryPath names the file in messages and below localRoot; runPaths
  // (repository paths of the run) are never taken as temporary names; the
  // temporary file's name goes on record when one is given.
  TDownloadFileResponse(const std::wstring& localRoot, std::wstring repositoryPath, const TSortedStringList& runPaths,
                        std::optional<TBlobId> expected, TSilentTerminator isTerminated,
                        std::shared_ptr<TTemporaryRecord> record = nullptr);

  const std::wstring& RepositoryPath() const { return FRepositoryPath; }
  const std::wstring& TemporaryPath() const { return FTemporaryPath; }

  // The exchange ended with status: 200 and a body that proved itself put
  // the temporary file in place of the target (EOSError naming the target
  // when that fails, after a held target was tried again);
  // anything else raises EDownloadError and leaves the target alone. No data
  // may arrive afterwards. A guard that refuses the move (the run stopped)
  // raises EAbort and leaves the target alone too.
  void Complete(int32_t status, const TAttemptGuard& placeGuard = {});
  // For a 200 reply that proved itself: closes the temporary file and hands
  // it to the caller, who then removes it when it is not used.
  std::wstring KeepTemporary();

 private:
  std::wstring FRepositoryPath;
};
