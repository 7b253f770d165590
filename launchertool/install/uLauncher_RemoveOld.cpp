// Removal of the launcher file left behind by a self-replacement.
#include <windows.h>
#include <shlobj.h>

#include "FileSystem.h"
#include "install/DeleteFileWithRetry.h"
#include "WinAPIExtensions.h"
#include "uDebugUtils.h"
#include "uLauncher.h"

void TfLauncher::RemoveOldLauncher() {
  std::wstring path = FLocalPath + L"\\Launcher_old.exe";
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
