// The finishing step of an update run: deletions and the cleanup after a
// full walk, the new .last, then the run's end.
#include <windows.h>

#include <vector>

#include "Handles.h"
#include "Streams.h"
#include "install/LastFile.h"
#include "install/LastFileWriter.h"
#include "uDebugUtils.h"
#include "update/InstalledFiles.h"
#include "update/PlacedFiles.h"
#include "update/RepositoryPaths.h"
#include "update/UpdateRun.h"

void TUpdateRun::FinishUpdate() {
  if (FFinishing || FEnded) return;
  FFinishing = true;
  Status(TUpdateRunStatus::Finishing);
  try {
    // A failed run deletes nothing and keeps the old record: the next run
    // replays the same lists, and the check still offers the update instead
    // of calling a half-updated installation current.
    if (!Failed()) {
      ApplyDeletions();
      WriteLastFile();
      // Every temporary file of the run is placed or gone, and .last says
      // what the placed files are.
      TemporaryRecord()->Discard();
      FPlacedFiles.reset();
      TPlacedFiles::Remove(FSettings.LocalPath);
    }
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
  DiscardLoadingWork();
  End(FUpdateState == urSuccess ? TUpdateRunEnd::Installed : TUpdateRunEnd::NothingToLoad);
}

void TUpdateRun::ApplyDeletions() {
  // Every deletion is tried; the first that failed fails the run afterwards.
  std::shared_ptr<Exception> failure;
  auto remove = [&](const std::wstring& path) {
    try {
      if (DeleteInstalledFile(FSettings.LocalPath, path) == TDeleteOutcome::Deleted) {
        LogMessage(L"Delete", path);
      }
    } catch (...) {
      if (!failure) failure = CurrentExceptionAsObject();
    }
  };
  for (const std::wstring& path : FFileListToDelete) remove(path);
  FFileListToDelete.clear();
  if (!FFullListToDownload.empty()) {
    FFullListToDownload.insert(L"/.last");
    FFullListToDownload.insert(TTemporaryRecord::kRepositoryPath);
    FFullListToDownload.insert(kPlacedRecordPath);
    std::vector<std::wstring> unlisted;
    CollectUnlistedFiles(L"/", unlisted);
    for (const std::wstring& path : unlisted) remove(path);
    FFullListToDownload.clear();
  }
  if (failure) failure->Raise();
}

void TUpdateRun::CollectUnlistedFiles(const std::wstring& folder, std::vector<std::wstring>& unlisted) {
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
  for (const std::wstring& path : files) unlisted.push_back(path);
  for (const std::wstring& sub : folders) CollectUnlistedFiles(sub, unlisted);
}

void TUpdateRun::WriteLastFile() {
  WriteLastFileAtomically(FSettings.LocalPath, FormatLastFile(FNewCommitHash, FSettings.Branch),
                          TemporaryRecord().get());
}
