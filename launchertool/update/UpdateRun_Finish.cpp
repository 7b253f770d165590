// The finishing step of an update run: deletions and the cleanup after a
// full walk, the new .last, then the run's end.
#include <windows.h>

#include <vector>

#include "Handles.h"
#include "Streams.h"
#include "install/LastFile.h"
#include "uDebugUtils.h"
#include "update/InstalledFiles.h"
#include "update/RepositoryPaths.h"
#include "update/UpdateRun.h"

void TUpdateRun::FinishUpdate() {
  if (FFinishing || FEnded) return;
  FFinishing = true;
  Status(TUpdateRunStatus::Finishing);
  try {
    ApplyDeletions();
    // A failed run keeps the old record: the next check then still offers the
    // update instead of calling a half-updated installation current.
    if (!Failed()) WriteLastFile();
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
  DiscardLoadingWork();
  End(FUpdateState == urSuccess ? TUpdateRunEnd::Installed : TUpdateRunEnd::NothingToLoad);
}

void TUpdateRun::ApplyDeletions() {
  for (const std::wstring& path : FFileListToDelete) DeleteInstalledFile(FSettings.LocalPath, path);
  FFileListToDelete.clear();
  if (FFullListToDownload.empty()) return;
  // After a failed walk the list may name only the folders listed so far;
  // cleaning up against it would delete installed files.
  if (!Failed()) {
    FFullListToDownload.insert(L"/.last");
    DeleteUnlistedFiles(L"/");
  }
  FFullListToDownload.clear();
}

void TUpdateRun::DeleteUnlistedFiles(const std::wstring& folder) {
  if (FSettings.LocalPath.empty() || IsInPlayerSubtree(folder)) return;
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  {
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileExW((FSettings.LocalPath + folder + L"*").c_str(), FindExInfoStandard, &data,
                                           FindExSearchNameMatch, nullptr, 0));
    if (!find) return;
    do {
      const std::wstring name = data.cFileName;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A linked folder may lead outside the installation.
        if (name != L"." && name != L".." && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          folders.push_back(folder + name + L"/");
        }
      } else if (FFullListToDownload.find(folder + name) == FFullListToDownload.end()) {
        files.push_back(folder + name);
      }
    } while (FindNextFileW(find.get(), &data));
  }
  for (const std::wstring& sub : folders) DeleteUnlistedFiles(sub);
  for (const std::wstring& path : files) DeleteInstalledFile(FSettings.LocalPath, path);
}

void TUpdateRun::WriteLastFile() {
  const std::string bytes = FormatLastFile(FNewCommitHash, FSettings.Branch);
  TFileStream file(FSettings.LocalPath + L"\\.last", fmCreate);
  file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}
