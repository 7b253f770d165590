// The write-access check before a run: without write access the launcher
// asks for another folder or starts itself elevated for the same run.
#include <windows.h>
#include <shlobj.h>

#include "FileSystem.h"
#include "Streams.h"
#include "WinAPIExtensions.h"
#include "install/OwnedFiles.h"
#include "uLauncher.h"
#include "update/SelfUpdateRules.h"

bool TfLauncher::CheckAndGetAccess(bool retry) {
  try {
    const std::wstring last = GetLastFilePath();
    // A read-only or hidden record is still the launcher's own to rewrite.
    if (FileExists(last)) MakePlainFile(last);
    TFileStream probe(last, FileExists(last) ? (fmOpenWrite | fmShareExclusive) : fmCreate);
    return true;
  } catch (const EStreamError&) {
    if (IsUserAnAdmin()) {
      if (retry) throw;
      FLocalPath.clear();
      if (ChooseInstallFolder()) return CheckAndGetAccess(true);
      EnableWindow(BTN_Exit, TRUE);
      return false;
    }
  }
  const uint32_t result =
      ShellExecuteFile(nullptr, L"runas", ExecutablePath(), RunUpdateParameters(FCurrentBranch), L"", SW_SHOWNORMAL);
  if (result == ERROR_SUCCESS) {
    CloseLauncher();
    return false;
  }
  if (result == ERROR_CANCELLED) {
    ShowInfo(L"Для обновления нужны права администратора!");
    EnableWindow(BTN_Exit, TRUE);
    return false;
  }
  RaiseLastOSError(result);
  return false;
}
