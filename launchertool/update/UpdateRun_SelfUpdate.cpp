// The launcher check of a run: a launcher that differs from the repository's
// is replaced, and the new one starts the run again.
#include <windows.h>

#include <iterator>
#include <utility>

#include "FileSystem.h"
#include "HttpAsyncContext.h"
#include "MainThreadQueue.h"
#include "Utf8.h"
#include "WinAPIExtensions.h"
#include "uDebugUtils.h"
#include "update/BlobCompare.h"
#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"
#include "update/RepositoryRequests.h"
#include "update/SelfUpdateRules.h"
#include "update/UpdateRun.h"

namespace {

std::wstring LauncherPath(const std::wstring& folder) { return folder + L"\\Launcher.exe"; }
std::wstring OldLauncherPath(const std::wstring& folder) { return folder + L"\\Launcher_old.exe"; }

// Set for the restarted launcher: the blob it was started to be. A launcher
// that still differs from that same blob does not restart again (a cache
// serving stale bytes would otherwise restart it for ever).
constexpr wchar_t kRestartedForVariable[] = L"VELDRA_LAUNCHER_RESTARTED_FOR";

std::wstring RestartedFor() {
  wchar_t value[64] = {};
  const DWORD length = GetEnvironmentVariableW(kRestartedForVariable, value, static_cast<DWORD>(std::size(value)));
  return length > 0 && length < std::size(value) ? std::wstring(value, length) : std::wstring();
}

// Puts the downloaded launcher in place of the one moved aside; on failure
// the old one goes back.
void PlaceNewLauncher(const std::wstring& folder, const std::wstring& downloaded) {
  if (MoveFileExW(downloaded.c_str(), LauncherPath(folder).c_str(), MOVEFILE_REPLACE_EXISTING)) return;
  const DWORD error = GetLastError();
  MoveFileW(OldLauncherPath(folder).c_str(), LauncherPath(folder).c_str());
  RaiseLastOSError(error);
}

// Puts the launcher that was moved aside back in one step, so that a launcher
// that cannot start never stays in its place (a folder that had none goes back
// to having none); returns what the player is told.
std::wstring RestorePreviousLauncher(const std::wstring& folder, bool movedAside) {
  const std::wstring launcher = LauncherPath(folder);
  const bool restored = movedAside ? MoveFileExW(OldLauncherPath(folder).c_str(), launcher.c_str(),
                                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                                   : DeleteFileW(launcher.c_str()) != 0;
  if (restored) {
    LogMessage(L"Update", movedAside ? L"Previous launcher restored" : L"New launcher removed");
  } else {
    const DWORD error = GetLastError();
    LogMessage(L"Update", L"Launcher folder not put back as it was: code " + std::to_wstring(error) + L" " +
                              SysErrorMessage(error));
  }
  const std::wstring failed = L"Не удалось запустить новую версию лаунчера (возможно, её блокирует антивирус)";
  if (!movedAside) return failed + L". Попробуйте обновиться позже.";
  if (restored) return failed + L". Прежняя версия восстановлена, попробуйте обновиться позже.";
  return failed + L", и вернуть прежнюю не удалось. Переименуйте в папке " + folder +
         L" файл Launcher_old.exe в Launcher.exe и попробуйте обновиться позже.";
}

// The proven launcher download between the worker that kept it and the main
// thread that places it: removed unless the main thread took it, also when the
// run was closed before it heard of it.
struct TKeptLauncher {
  std::wstring Path;
  TKeptLauncher() = default;
  TKeptLauncher(const TKeptLauncher&) = delete;
  TKeptLauncher& operator=(const TKeptLauncher&) = delete;
  ~TKeptLauncher() {
    if (!Path.empty()) DeleteFileW(Path.c_str());
  }
};

}  // namespace

void TUpdateRun::TryGetNewLauncher() {
  LogMessage(L"Update", L"Try get new launcher");
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch.empty() ? std::wstring(L"main") : FSettings.Branch;
  RequestText(BuildRepositoryRequest(TRepositoryRequest::LauncherMetadata, args),
              [this](const TTextReply& reply) { OnLauncherInfoLoaded(reply.Status, reply.Body); });
}

void TUpdateRun::OnLauncherInfoLoaded(int32_t status, const std::wstring& body) {
  if (status != 200) {
    LogMessage(L"Update", L"Can't update launcher");
    throw EDownloadError(L"Ошибка получения списка файлов!");
  }
  const TLauncherMetadata info = ParseLauncherMetadata(body);
  TTreeEntry repositoryCopy;
  repositoryCopy.Sha = info.Sha;
  repositoryCopy.Size = info.Size;
  // A folder picked for a first installation holds no launcher yet: it gets
  // the repository's.
  if (LocalFileMatches(LauncherPath(FSettings.LocalPath), repositoryCopy)) {
    FNextUpdateState();
    return;
  }
  const std::wstring sha = FromUtf8(info.Sha);
  if (RestartedFor() == sha) {
    LogMessage(L"Update", L"Launcher still differs from " + sha + L" after a restart for it");
    throw EDownloadError(L"Не удалось обновить лаунчер: получена неверная версия. Попробуйте позже.");
  }
  // The running launcher is moved aside only once the new one proved itself.
  auto response = std::make_unique<TDownloadFileResponse>(FSettings.LocalPath, L"/Launcher.exe", TSortedStringList(),
                                                          TBlobId{info.Sha, info.Size}, AbortTest());
  auto kept = std::make_shared<TKeptLauncher>();
  FExchanges.Send(
      TRepositoryRequestTarget{info.DownloadURL, L"", L""}, std::move(response),
      [kept](THTTPAsyncContext& context) {
        auto& loaded = static_cast<TDownloadFileResponse&>(*context.Response());
        // An empty or partial launcher would leave the installation without one.
        if (loaded.HTTPStatus() != 200) throw EDownloadError(L"Ошибка получения списка файлов!");
        kept->Path = loaded.KeepTemporary();
      },
      [this, kept, sha](std::shared_ptr<Exception> failure) {
        Step([&] {
          if (failure) {
            LogMessage(L"Update", L"Can't update launcher");
            Fail(failure);
            return;
          }
          // From here OnLauncherDownloaded owns the file.
          OnLauncherDownloaded(std::exchange(kept->Path, {}), sha);
        });
      });
}

void TUpdateRun::OnLauncherDownloaded(const std::wstring& downloaded, const std::wstring& sha) {
  bool movedAside = false;
  try {
    movedAside = PrepareLauncherUpdate();
    PlaceNewLauncher(FSettings.LocalPath, downloaded);
  } catch (...) {
    LogMessage(L"Update", L"Can't update launcher");
    DeleteFileW(downloaded.c_str());
    throw;
  }
  // The restarted launcher inherits the mark; this one keeps what it had.
  const std::wstring ownMark = RestartedFor();
  SetEnvironmentVariableW(kRestartedForVariable, sha.c_str());
  LogMessage(L"Update", L"Restart launcher");
  TRunningProcessInfo process;
  try {
    StartProcess(ExecutablePath(), RunUpdateParameters(FSettings.Branch), process, SW_SHOWNORMAL);
  } catch (const EOSError& error) {
    // An antivirus may block the new file, or it is no program at all.
    LogMessage(L"Update", L"New launcher did not start: code " + std::to_wstring(error.ErrorCode) + L" " +
                              SysErrorMessage(error.ErrorCode));
    SetEnvironmentVariableW(kRestartedForVariable, ownMark.empty() ? nullptr : ownMark.c_str());
    const std::wstring told = RestorePreviousLauncher(FSettings.LocalPath, movedAside);
    FLauncherUpdated = false;
    throw EDownloadError(told);
  }
  End(TUpdateRunEnd::Restarting);
}

bool TUpdateRun::PrepareLauncherUpdate() {
  LogMessage(L"Update", L"Prepare to launcher update");
  FLauncherUpdated = true;
  DeleteFileW(OldLauncherPath(FSettings.LocalPath).c_str());
  return MoveFileW(LauncherPath(FSettings.LocalPath).c_str(), OldLauncherPath(FSettings.LocalPath).c_str()) != 0;
}
