// The window's side of an update run: the Update button starts a run, the
// run's notifications become window states, texts and the progress bar.
#include <windows.h>

#include "game/RunningGame.h"
#include "uDebugUtils.h"
#include "update/DownloadError.h"
#include "update/MachineFaults.h"
#include "uLauncher.h"
#include "update/ConnectionFaults.h"
#include "update/UpdateRun.h"
#include "window/WindowMessages.h"

void TfLauncher::BTN_UpdateClick() {
  if (FLocalPath.empty() && !ChooseInstallFolder()) return;
  // Files under a running game cannot be replaced safely; nothing is touched
  // and the button stays as it was.
  if (IsProgramRunning(GetGameExePath())) {
    LogMessage(L"Update", L"The game is running: update not started");
    ShowError(EDownloadError(kGameRunningMessage));
    return;
  }
  FLauncherUpdated = false;
  LogMessage(L"Update", L"Begin");
  SendUpdateEvent(L"begin", false);
  SetBusy(true);
  LogMessage(L"Update", L"CheckAndGetAccess");
  try {
    if (!CheckAndGetAccess(false)) return;
    LogMessage(L"Update", L"Has access");
    if (!FLastCommitHash.empty()) FProcessingHash = FLastCommitHash;
    FErrorOnLoading = false;
    PrepareUpdateRun();
  } catch (...) {
    SendUpdateEvent(L"begin", true);
    throw;
  }
}

void TfLauncher::PrepareUpdateRun() {
  StateGettingFileList();
  FUpdateState = urSuccess;
  CreateHttpClients();
  TUpdateRunSettings settings;
  settings.LocalPath = FLocalPath;
  settings.Branch = FCurrentBranch;
  settings.LastCommitHash = FLastCommitHash;
  settings.NewCommitHash = FNewCommitHash;
  settings.Client = FHttp;
  // A run still winding down is cancelled, not left to report into this one.
  FRun.reset();
  FRun = TUpdateRun::Create(std::move(settings), *this);
  FRun->Start();
  ShowWindow(ProgressBar, SW_SHOWNA);
}

void TfLauncher::RunStatus(TUpdateRunStatus status) {
  switch (status) {
    case TUpdateRunStatus::PreparingFolders:
      CaptionFolderPreparing();
      break;
    case TUpdateRunStatus::Downloading:
      StateFileLoading();
      break;
    case TUpdateRunStatus::Packing:
      CaptionDataPack();
      break;
    case TUpdateRunStatus::Finishing:
      CaptionFinishLoading();
      break;
    case TUpdateRunStatus::Retrying: {
      wchar_t text[512] = L"";
      GetWindowTextW(L_Update, text, static_cast<int>(std::size(text)));
      if (text != std::wstring(kRetryingStatusText)) FTextBeforeRetry = text;
      SetStatusText(kRetryingStatusText);
      break;
    }
    case TUpdateRunStatus::Retried:
      SetStatusText(FTextBeforeRetry);
      break;
  }
}

void TfLauncher::RunProgress(int32_t done, int32_t total) {
  if (total != FProgressMaximum) SetProgressRange(total);
  // A step per finished file would repaint the bar hundreds of times a
  // second: the latest count is shown once a frame, the first and last at once.
  FRunProgressDone = done;
  if (done == 0 || done >= total) {
    ShowRunProgress();
  } else if (!FProgressTimerArmed) {
    FProgressTimerArmed = SetTimer(FHandle, kTimerProgress, kProgressFrameMs, nullptr) != 0;
    if (!FProgressTimerArmed) ShowRunProgress();
  }
}

void TfLauncher::ShowRunProgress() {
  if (FProgressTimerArmed) {
    KillTimer(FHandle, kTimerProgress);
    FProgressTimerArmed = false;
  }
  SetProgressPosition(FRunProgressDone);
}

void TfLauncher::RunFailed(const Exception& error) { ReportRunFailure(error); }

void TfLauncher::RunFinished(const TUpdateRunEnd& end) {
  // Forgotten here; the run itself goes when this notification returns.
  FRun.reset();
  if (FProgressTimerArmed) ShowRunProgress();
  FNewCommitHash = end.NewCommitHash;
  FProcessingHash = end.ProcessingHash;
  FLauncherUpdated = end.LauncherUpdated;
  if (end.Outcome == TUpdateRunEnd::Restarting) {
    CloseLauncher();
    return;
  }
  if (end.Outcome == TUpdateRunEnd::Failed) FErrorOnLoading = true;
  if (end.Outcome == TUpdateRunEnd::NothingToLoad) FUpdateState = urNothing;
  const bool failed = IsError();
  ResetUpdateState();
  if (failed) return;
  if (FUpdateState == urSuccess) {
    ShowUpdateFinished();
  } else {
    ShowNothingToLoad();
  }
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

void TfLauncher::CaptionFolderPreparing() { SetStatusText(L"Подготовка места..."); }

void TfLauncher::CaptionDataPack() {
  SetStatusText(
      L"Упаковка файлов... Это может занять несколько минут. Зависит от мощности вашего компьютера. Не закрывайте "
      L"лаунчер.");
}

void TfLauncher::CaptionFinishLoading() { SetStatusText(L"Завершение обновления... Осталось совсем немного..."); }
