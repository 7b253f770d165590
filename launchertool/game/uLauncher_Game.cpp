// Game launch: the Run button, the game session on a pool thread, and the
// hand-over of connect texts to the game.
#include <windows.h>

#include <functional>
#include <memory>

#include "FileSystem.h"
#include "MainThreadQueue.h"
#include "analytics/AnalyticsEvents.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "window/WindowMessages.h"

namespace {

constexpr ULONG_PTR kConnectTag = 0x526456;
constexpr size_t kConnectPrefixLength = 9;  // "/connect "


// Everything a session needs, taken on the main thread: the task never
// touches the window.
struct TGameTask {
  std::shared_ptr<TGameSession> Session;
  std::wstring GameExe;
  std::wstring Parameters;
  // Reports the play time (seconds) to usage analytics.
  std::function<void(int64_t)> ReportEnd;
};

void QueueOnWindow(std::function<void(TfLauncher&)> call) {
  MainThread::Queue([call = std::move(call)] {
    if (fLauncher) call(*fLauncher);
  });
}

void RunGameSession(TGameTask& task) {
  ULONGLONG start = GetTickCount64();
  TRunningProcessInfo game;
  try {
    StartProcess(task.GameExe, task.Parameters, game, SW_SHOWNORMAL);
  } catch (...) {
    std::shared_ptr<Exception> failure = CurrentExceptionAsObject();
    QueueOnWindow([failure](TfLauncher& window) { window.OnGameStartFailed(*failure); });
    return;
  }
  task.Session->ProcessId = game.FPI.dwProcessId;
  task.Session->Running = gsrRunned;
  game.WaitClose();
  int64_t seconds = static_cast<int64_t>((GetTickCount64() - start) / 1000);
  // Released before the window comes back, so that a new start cannot meet it.
  task.Session->ProcessId = 0;
  game.Finalize();
  QueueOnWindow([](TfLauncher& window) { window.GameFinished(); });
  task.ReportEnd(seconds);
}

}  // namespace

void TfLauncher::BTN_RunClick() {
  if (!FileExists(GetGameExePath())) {
    ShowInfo(L"Программа запуска не обнаружила игру! Переустановите игру для устранения проблемы.");
    FNewCommitHash.clear();
    StateChecking(true);
    return;
  }
  RegisterEventWithParams(L"game_run", VersionText(), {});
  SetBusy(true);
  ShowTrayIcon(true);
  ShowWindow(FHandle, SW_HIDE);
  FGame->Running = gsrRunning;
  // The pending connect text becomes the game's parameters; it is taken here,
  // on the main thread, so that the task shares nothing else with the window.
  auto task = std::make_unique<TGameTask>();
  task->Session = FGame;
  task->GameExe = GetGameExePath();
  task->Parameters = std::move(FConnectionString);
  FConnectionString.clear();
  task->ReportEnd = [analytics = FAnalytics, clientId = FClientId, version = VersionText()](int64_t seconds) {
    PostAnalyticsEvent(analytics.get(), clientId, L"game_end", version, BuildSessionTimeExtra(seconds));
  };
  if (!TrySubmitThreadpoolCallback(&TfLauncher::GameTaskEntry, task.get(), nullptr)) {
    try {
      RaiseLastOSError();
    } catch (const Exception& e) {
      OnGameStartFailed(e);
    }
    return;
  }
  task.release();
}

void CALLBACK TfLauncher::GameTaskEntry(PTP_CALLBACK_INSTANCE, PVOID context) noexcept {
  std::unique_ptr<TGameTask> task(static_cast<TGameTask*>(context));
  try {
    RunGameSession(*task);
  } catch (...) {
    LogError(*CurrentExceptionAsObject());
  }
}

void TfLauncher::GameFinished() {
  TrayIcon1DblClick();
  FGame->Running = gsrNone;
  StateReady();
}

void TfLauncher::OnGameStartFailed(const Exception& e) {
  // The launcher comes back usable and says why the game did not start.
  FGame->Running = gsrNone;
  TrayIcon1DblClick();
  StateReady();
  aplctnvnts1Exception(e);
}

void TfLauncher::DoConnectClient(std::wstring command) {
  FConnectionString.clear();
  if (command.empty()) return;
  if (FGame->Running == gsrRunning || !FConnectWaiting.empty()) {
    // The game process is being created: wait for it without holding up the
    // message loop, at most 51 times 500 ms, keeping the requests in order.
    FConnectWaiting.push_back(command);
    if (FConnectWaiting.size() == 1) {
      FConnectWaitTicks = 0;
      SetTimer(FHandle, kTimerConnectWait, kConnectWaitMs, nullptr);
    }
    return;
  }
  ConnectAfterWait(command);
}

void TfLauncher::ContinueConnectWait() {
  if (FGame->Running == gsrRunning && ++FConnectWaitTicks < kConnectWaitTicks) return;
  KillTimer(FHandle, kTimerConnectWait);
  std::deque<std::wstring> waiting;
  waiting.swap(FConnectWaiting);
  for (const auto& command : waiting) ConnectAfterWait(command);
}

void TfLauncher::ConnectAfterWait(const std::wstring& command) {
  if (FGame->Running != gsrRunned) {
    if (IsWindowEnabled(BTN_Run)) {
      FConnectionString = command;
      BTN_RunClick();
    } else {
      ShowInfo(L"Невозможно запустить игру, требуется обновление или установка!");
    }
    return;
  }
  std::wstring text = command.size() > kConnectPrefixLength ? command.substr(kConnectPrefixLength) : std::wstring();
  FGameWindowHandle = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
  EnumWindows(&TfLauncher::FindGameWindowProc, reinterpret_cast<LPARAM>(this));
  if (FGameWindowHandle == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return;
  COPYDATASTRUCT data{};
  data.dwData = kConnectTag;
  data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  data.lpData = text.empty() ? nullptr : text.data();
  // Synchronous, but a hung game must not freeze the launcher.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(FGameWindowHandle, WM_COPYDATA, reinterpret_cast<WPARAM>(FHandle),
                      reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000, &ignored);
}

BOOL CALLBACK TfLauncher::FindGameWindowProc(HWND window, LPARAM launcher) {
  auto* self = reinterpret_cast<TfLauncher*>(launcher);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == 0 || processId != self->FGame->ProcessId) return TRUE;
  wchar_t className[256] = L"";
  GetClassNameW(window, className, 256);
  if (wcscmp(className, L"TfMain") != 0) return TRUE;
  self->FGameWindowHandle = window;
  return FALSE;
}
