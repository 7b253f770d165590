// Removal of the launcher file left behind by a self-replacement.
#include <windows.h>
#include <shlobj.h>

#include "FileSystem.h"
#include "install/DeleteFileWithRetry.h"
#include "install/RemoveOld.h"
#include "startup/CommandLine.h"
#include "WinAPIExtensions.h"
#include "uDebugUtils.h"

void RemoveOldLauncher(const std::wstring& folder) {
  std::wstring path = folder + L"\\Launcher_old.exe";
  if (IsUserAnAdmin()) {
    DeleteFileWithRetry(path);
    return;
  }
  DWORD result = DeleteFileWithRetry(path);
  if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return;
  LogMessage(L"Delete", L"let's try to get administrator rights");
  DWORD shell = ShellExecuteFile(nullptr, L"runas", ExecutablePath(), L"/removeOldAndClose", L"", SW_SHOWNORMAL);
  if (shell != ERROR_SUCCESS && shell != ERROR_CANCELLED) RaiseLastOSError(shell);
}

bool HandleRemoveOldSwitches() {
  const bool close = IsSwitchPresent(L"/removeOldAndClose");
  if (!close && !IsSwitchPresent(L"/removeOld")) return false;
  std::wstring folder = ReadInstallLocation().value_or(L"");
  if (folder.empty()) folder = ExecutableFolder();
  LogMessage(L"Start", close ? L"remove old launcher and close" : L"remove old launcher");
  RemoveOldLauncher(folder);
  return close;
}
