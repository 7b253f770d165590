// Launcher self-update and the write-access check before a run.
#include <windows.h>
#include <shlobj.h>

#include <iterator>

#include "FileSystem.h"
#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "Streams.h"
#include "URL.h"
#include "Utf8.h"
#include "WinAPIExtensions.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/BlobCompare.h"
#include "update/DownloadError.h"
#include "update/RepositoryRequests.h"
#include "update/SelfUpdateRules.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"

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

// Downloads the new launcher into its temporary file; raises unless the
// body is exactly the repository's blob.
void DownloadLauncher(THTTPClient& client, const std::wstring& target, const TLauncherMetadata& info) {
  TURL url;
  url.From(info.DownloadURL);
  THTTPGetRequest request;
  request.SetUseSSL(url.Scheme == L"https");
  auto file = std::make_unique<TFileStream>(target, fmCreate);
  TVerifiedStreamResponse response(file.get(), true, nullptr, TBlobId{info.Sha, info.Size});
  file.release();  // the response owns it now
  client.Send(&request, &response, url);
  // An empty or partial launcher would leave the installation without one.
  if (response.HTTPStatus() != 200) {
    throw EDownloadError(L"Ошибка получения списка файлов!");
  }
  response.Verify(L"/Launcher.exe");
}

// Puts the downloaded launcher in place of the one moved aside; on failure
// the old one goes back.
void PlaceNewLauncher(const std::wstring& folder, const std::wstring& downloaded) {
  if (MoveFileExW(downloaded.c_str(), LauncherPath(folder).c_str(), MOVEFILE_REPLACE_EXISTING)) return;
  const DWORD error = GetLastError();
  MoveFileW(OldLauncherPath(folder).c_str(), LauncherPath(folder).c_str());
  RaiseLastOSError(error);
}

}  // namespace

void TfLauncher::TryGetNewLauncher() {
  LogMessage(L"Update", L"Try get new launcher");
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch.empty() ? std::wstring(L"main") : FCurrentBranch;
  SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::LauncherMetadata, args),
                  std::make_unique<THTTPStringResponse>(), &TfLauncher::OnLauncherInfoLoaded);
}

void TfLauncher::OnLauncherInfoLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  if (response->HTTPStatus() != 200) {
    LogMessage(L"Update", L"Can't update launcher");
    throw EDownloadError(L"Ошибка получения списка файлов!");
  }
  const TLauncherMetadata info = ParseLauncherMetadata(response->Result());
  TTreeEntry repositoryCopy;
  repositoryCopy.Sha = info.Sha;
  repositoryCopy.Size = info.Size;
  // A folder picked for a first installation holds no launcher yet: it gets
  // the repository's.
  if (LocalFileMatches(LauncherPath(FLocalPath), repositoryCopy)) {
    FNextUpdateState();
    return;
  }
  const std::wstring sha = FromUtf8(info.Sha);
  if (RestartedFor() == sha) {
    LogMessage(L"Update", L"Launcher still differs from " + sha + L" after a restart for it");
    throw EDownloadError(L"Не удалось обновить лаунчер: получена неверная версия. Попробуйте позже.");
  }
  // The running launcher is moved aside only once the new one proved itself.
  const std::wstring downloaded = ClaimTemporaryFile(FLocalPath, L"/Launcher.exe", {});
  try {
    DownloadLauncher(*FHttpSync, downloaded, info);
    PrepareLauncherUpdate();
    PlaceNewLauncher(FLocalPath, downloaded);
  } catch (...) {
    LogMessage(L"Update", L"Can't update launcher");
    DeleteFileW(downloaded.c_str());
    throw;
  }
  SetEnvironmentVariableW(kRestartedForVariable, sha.c_str());
  LogMessage(L"Update", L"Restart launcher");
  TRunningProcessInfo process;
  StartProcess(ExecutablePath(), RunUpdateParameters(FCurrentBranch), process, SW_SHOWNORMAL);
  DWORD ignored = 0;
  process.WaitCloseAndGetResult(0, ignored);
  process.Finalize();
  MainThread::Queue([] {
    if (fLauncher) fLauncher->CloseLauncher();
  });
}

void TfLauncher::PrepareLauncherUpdate() {
  LogMessage(L"Update", L"Prepare to launcher update");
  FLauncherUpdated = true;
  DeleteFileW(OldLauncherPath(FLocalPath).c_str());
  MoveFileW(LauncherPath(FLocalPath).c_str(), OldLauncherPath(FLocalPath).c_str());
}

bool TfLauncher::CheckAndGetAccess(bool retry) {
  try {
    const std::wstring last = GetLastFilePath();
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
