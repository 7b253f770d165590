// Launcher self-update and the write-access check before a run.
#include <windows.h>
#include <shlobj.h>

#include "FileSystem.h"
#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "Streams.h"
#include "URL.h"
#include "WinAPIExtensions.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/BlobCompare.h"
#include "update/DownloadError.h"
#include "update/RepositoryRequests.h"
#include "update/SelfUpdateRules.h"

namespace {

std::wstring LauncherPath(const std::wstring& folder) { return folder + L"\\Launcher.exe"; }
std::wstring OldLauncherPath(const std::wstring& folder) { return folder + L"\\Launcher_old.exe"; }

// Downloads the new launcher over the file the running one was moved from.
void DownloadLauncher(THTTPClient& client, const std::wstring& target, const std::wstring& downloadUrl) {
  TURL url;
  url.From(downloadUrl);
  THTTPGetRequest request;
  request.SetUseSSL(url.Scheme == L"https");
  auto file = std::make_unique<TFileStream>(target, fmCreate);
  THTTPStreamResponse response(file.get(), true, nullptr, true);
  file.release();  // the response owns it now
  client.Send(&request, &response, url);
  // An empty or partial launcher would leave the installation without one.
  if (response.HTTPStatus() != 200) {
    throw EDownloadError(L"Ошибка получения списка файлов!");
  }
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
  PrepareLauncherUpdate();
  try {
    DownloadLauncher(*FHttpSync, LauncherPath(FLocalPath), info.DownloadURL);
  } catch (...) {
    LogMessage(L"Update", L"Can't update launcher");
    DeleteFileW(LauncherPath(FLocalPath).c_str());
    MoveFileW(OldLauncherPath(FLocalPath).c_str(), LauncherPath(FLocalPath).c_str());
    throw;
  }
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
