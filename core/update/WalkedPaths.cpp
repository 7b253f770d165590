#include "update/WalkedPaths.h"

#include "update/DownloadError.h"
#include "update/RepositoryPaths.h"
#include "update/StepMessages.h"

void CheckWalkedPath(const std::wstring& path) {
  // A file path: a trailing "/" would leave an empty last segment.
  if (!IsSafeRepositoryPath(path) || path.back() == L'/') throw EDownloadError(kUnexpectedErrorMessage);
}
