// The finishing step of an update run: deletions and the cleanup after a
// full walk, the new .last, the final window state and the reports.
#include <windows.h>

#include <vector>

#include "Handles.h"
#include "Streams.h"
#include "install/LastFile.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/InstalledFiles.h"
#include "update/RepositoryPaths.h"

void TfLauncher::FinishUpdate() {
  CaptionFinishLoading();
  ApplyDeletions();
  // A failed run keeps the old record: the next check then still offers the
  // update instead of calling a half-updated installation current.
  if (!IsError()) WriteLastFile();
  const bool failed = IsError();
  ResetUpdateState();
  if (failed) return;
  if (FUpdateState == urSuccess) {
    ShowUpdateFinished();
  } else {
    ShowNothingToLoad();
  }
}

void TfLauncher::ApplyDeletions() {
  for (const std::wstring& path : FFileListToDelete) DeleteInstalledFile(FLocalPath, path);
  FFileListToDelete.clear();
  if (FFullListToDownload.empty()) return;
  // After a failed walk the list may name only the folders listed so far;
  // cleaning up against it would delete installed files.
  if (!IsError()) {
    FFullListToDownload.insert(L"/.last");
    DeleteUnlistedFiles(L"/");
  }
  FFullListToDownload.clear();
}

void TfLauncher::DeleteUnlistedFiles(const std::wstring& folder) {
  if (FLocalPath.empty() || IsInPlayerSubtree(folder)) return;
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  {
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(
        FindFirstFileExW((FLocalPath + folder + L"*").c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                         nullptr, 0));
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
  for (const std::wstring& path : files) DeleteInstalledFile(FLocalPath, path);
}

void TfLauncher::WriteLastFile() {
  const std::string bytes = FormatLastFile(FNewCommitHash, FCurrentBranch);
  TFileStream file(GetLastFilePath(), fmCreate);
  file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void TfLauncher::ResetUpdateState() {
  if (IsError()) {
    StateUpdateOptional();
    FErrorOnLoading = false;
    SendUpdateEvent(L"end", true);
  } else {
    StateReady();
  }
  try {
    RegisterVDRProtocol();
  } catch (...) {
    LogError(*CurrentExceptionAsObject());
  }
  FFileListToDownload.clear();
  FFileListToDelete.clear();
  FExpectedBlobs.clear();
  DiscardLoadingWork();
  if (ProgressBar) ShowWindow(ProgressBar, SW_HIDE);
  SetTaskbarState(0);
}

void TfLauncher::ShowUpdateFinished() {
  ShowGameVersion();
  SendUpdateEvent(L"end", false);
  FLastCommitHash = FNewCommitHash;
  FNewCommitHash.clear();
  ShowInfo(L"Загрузка завершена");
}

void TfLauncher::ShowNothingToLoad() {
  if (L_Update) ShowWindow(L_Update, SW_HIDE);
  ShowInfo(L"Не найдено файлов для загрузки.");
}
