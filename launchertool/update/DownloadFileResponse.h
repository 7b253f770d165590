#pragma once
// The response of one plain download: the body goes into a temporary file
// beside the target, which replaces the target only when the whole reply
// arrived with status 200 (or 206 continuing the held bytes) and proved
// itself (length, and the blob where the repository named one). The
// temporary file is removed on every other path, so a failed download leaves
// the player's file as it was.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "Streams.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"

// The temporary file of one download, shared by its tries: a retry continues
// from what the try before it received. Removed when its last holder goes,
// unless it took the target's place.
class TDownloadTemporary {
 public:
  TDownloadTemporary(TTemporaryFile temporary, std::shared_ptr<TTemporaryRecord> record);
  ~TDownloadTemporary();
  TDownloadTemporary(const TDownloadTemporary&) = delete;
  TDownloadTemporary& operator=(const TDownloadTemporary&) = delete;

  const std::wstring& Path() const { return FPath; }
  TFileStream* File() const { return FFile.get(); }
  // Bytes held so far (0 once closed).
  int64_t Held() const;
  // Closes the file before it is moved or kept.
  void Close() { FFile.reset(); }
  void MarkPlaced() { FPlaced = true; }

 private:
  // First, so that it goes last: after the temporary file is gone.
  std::shared_ptr<TTemporaryRecord> FRecord;
  std::wstring FPath;
  std::unique_ptr<TFileStream> FFile;
  std::atomic<bool> FPlaced{false};
};

// Holds the temporary file; a base of the response so that it exists before
// the stream response uses it.
class TDownloadTarget {
 protected:
  TDownloadTarget(std::wstring targetPath, std::shared_ptr<TDownloadTemporary> temporary);
  std::wstring FTargetPath;
  std::shared_ptr<TDownloadTemporary> FTemporary;
};

class TDownloadFileResponse : private TDownloadTarget, public TVerifiedStreamResponse {
 public:
  // repositoryPath names the file in messages and below localRoot; runPaths
  // (repository paths of the run) are never taken as temporary names; the
  // temporary file's name goes on record when one is given. With held, a
  // retry's temporary file, the reply continues it (a Range request).
  TDownloadFileResponse(const std::wstring& localRoot, std::wstring repositoryPath, const TSortedStringList& runPaths,
                        std::optional<TBlobId> expected, TSilentTerminator isTerminated,
                        std::shared_ptr<TTemporaryRecord> record = nullptr,
                        std::shared_ptr<TDownloadTemporary> held = nullptr);

  const std::wstring& RepositoryPath() const { return FRepositoryPath; }
  const std::wstring& TemporaryPath() const { return FTemporary->Path(); }
  // The temporary file, for the next try when this one fails.
  const std::shared_ptr<TDownloadTemporary>& Temporary() const { return FTemporary; }
  // The Range header this try asks with; empty for the whole file.
  std::wstring RangeHeader() const;

  // The exchange ended with status: a body that proved itself put the
  // temporary file in place of the target (EOSError naming the target when
  // that fails, after a held target was tried again); a status worth
  // another try raises EServerReplyError, anything else EDownloadError, and
  // the target stays alone. No data may arrive afterwards.
  void Complete(int32_t status, uint32_t retryAfterSeconds = 0);
  // For a 200 reply that proved itself: closes the temporary file and hands
  // it to the caller, who then removes it when it is not used.
  std::wstring KeepTemporary();

 private:
  std::wstring FRepositoryPath;
};
