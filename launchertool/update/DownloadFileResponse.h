#pragma once
// The response of one plain download: the body goes into a temporary file
// beside the target (target + ".download"), which replaces the target only
// when the whole reply arrived with status 200. The temporary file is removed
// on every other path, so a failed download leaves the player's file as it was.
#include <memory>
#include <string>

#include "HttpResponse.h"
#include "Streams.h"

inline constexpr wchar_t kDownloadSuffix[] = L".download";

// Owns the temporary file; a base of the response so that it is created
// before the stream response uses it and goes after it.
class TDownloadTarget {
 protected:
  explicit TDownloadTarget(std::wstring targetPath);
  ~TDownloadTarget();
  TDownloadTarget(const TDownloadTarget&) = delete;
  TDownloadTarget& operator=(const TDownloadTarget&) = delete;

  std::wstring FTargetPath;
  std::wstring FTemporaryPath;
  std::unique_ptr<TFileStream> FFile;
  bool FPlaced = false;
};

class TDownloadFileResponse : private TDownloadTarget, public THTTPStreamResponse {
 public:
  // repositoryPath names the file in messages; targetPath is the local file.
  TDownloadFileResponse(std::wstring repositoryPath, std::wstring targetPath, TSilentTerminator isTerminated);

  const std::wstring& RepositoryPath() const { return FRepositoryPath; }
  const std::wstring& TemporaryPath() const { return FTemporaryPath; }

  // The exchange ended with status: 200 puts the temporary file in place of
  // the target (EOSError when that fails); any other status raises
  // EDownloadError and leaves the target alone. No data may arrive afterwards.
  void Complete(int32_t status);

 private:
  std::wstring FRepositoryPath;
};
