#include "update/WritablePaths.h"

#include "uDebugUtils.h"
#include "update/DownloadError.h"
#include "update/RepositoryPaths.h"

void CheckPathToWrite(const std::wstring& localPath, const std::wstring& path) {
  const TPathFault fault = FindPathToWriteFault(localPath.size(), path);
  if (!fault) return;
  LogMessage(L"Update", PathFaultLogText(path, fault));
  throw EDownloadError(PathFaultMessage(path, fault));
}

void CheckPathsToWrite(const std::wstring& localPath, const TSortedStringList& toDownload,
                       TSortedStringList& toDelete) {
  for (auto it = toDelete.begin(); it != toDelete.end();) {
    // A map's member is deleted by rewriting its archive, so the archive's name counts.
    const TPathFault fault = FindWindowsNameFault(LocalFileOf(*it));
    if (!fault) {
      ++it;
      continue;
    }
    LogMessage(L"Delete", L"Skipped: " + PathFaultLogText(*it, fault));
    it = toDelete.erase(it);
  }
  try {
    for (const std::wstring& path : toDownload) CheckPathToWrite(localPath, path);
  } catch (...) {
    toDelete.clear();
    throw;
  }
}
