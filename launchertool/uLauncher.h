#pragma once
// TfLauncher: the launcher's only window and the owner of all launcher state.
// Its methods are spread over several files, one concern each (window/,
// install/, game/, the update check and analytics files beside this header).
#include <windows.h>

#include <atomic>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "Guarded.h"
#include "Handles.h"
#include "WinAPIExtensions.h"
#include "analytics/AnalyticsEvents.h"
#include "game/GameSession.h"
#include "update/UpdateRun.h"
#include "window/SortedStringList.h"

class TExchangeSet;
class TLauncherTheme;
struct ITaskbarList3;

// Update channels, indexed by the tag of the channel radio buttons.
inline constexpr const wchar_t* Branches[] = {L"main", L"qa"};

inline constexpr wchar_t kLauncherWindowClass[] = L"TfLauncher";
inline constexpr wchar_t kLauncherCaption[] = L"VELDRA LAUNCHER";
inline constexpr wchar_t kApplicationTitle[] = L"Launcher";

class TfLauncher : private TUpdateRunEvents {
 public:
  TfLauncher();
  ~TfLauncher();
  TfLauncher(const TfLauncher&) = delete;
  TfLauncher& operator=(const TfLauncher&) = delete;

  // Creates the window and its controls and runs FormCreate. Returns false
  // when the program has to end before the message loop (/removeOldAndClose).
  bool Create(HINSTANCE instance);
  HWND Handle() const { return FHandle; }
  // True from the end of creation until the window starts closing: requests
  // from outside (the pipe) may use the window only then.
  bool IsReadyForRequests() const { return FReadyForRequests; }

  // UI states: the only way other code changes what the user can do.
  void StateChecking(bool startTimer);
  void StateUpdateRequired();
  void StateUpdateOptional();
  void StateReady();
  void SetBusy(bool busy);
  void StateGettingFileList();
  void StateFileLoading();
  void CloseLauncher();
  // Shows a status text in L_Update (the run's caption steps use it).
  void SetStatusText(const std::wstring& text);
  // The progress bar and the taskbar button follow the same position.
  void SetProgressRange(int32_t maximum);
  void SetProgressPosition(int32_t position);
  void ShowRunProgress();

  void ActivateApp();
  bool IsError() const { return FErrorOnLoading; }
  void aplctnvnts1Exception(const Exception& e);
  // A failed update run: Exit becomes usable, the progress goes, the error is shown.
  void ReportRunFailure(const Exception& e);
  void ShowError(const Exception& e);

  // Installation folder, version, channel.
  std::wstring GetGameExePath() const { return FLocalPath + L"\\VELDRA.exe"; }
  std::wstring GetLastFilePath() const { return FLocalPath + L"\\.last"; }
  void LoadInstallLocation();
  void SaveInstallLocation();
  bool ChooseInstallFolder();
  void ShowGameVersion();
  void ShowCurrentBranch();
  void RegisterVDRProtocol();
  // Reads the installed commit and channel from .last (a step of creation).
  void ReadLastFile();

  // Game launch.
  void BTN_RunClick();
  // Takes its argument by value: callers pass FConnectionString, which it clears.
  void DoConnectClient(std::wstring command);
  void GameFinished();
  void OnGameStartFailed(const Exception& e);

  // Update check and analytics (bodies in uLauncher_UpdateCheck.cpp and
  // uLauncher_Analytics.cpp).
  void InitAnalytics();
  void RegisterEventWithParams(const std::wstring& name, const std::wstring& version, const TEventParams& extra);
  void SendUpdateEvent(const std::wstring& step, bool error);
  void tmrUpdateTimer();
  void RequestHeadCommit();
  void OnVersionChecked(int32_t status, const std::wstring& body);
  void BTN_UpdateClick();

  // ---- The update run (launchertool/update/) ----
  // The window's side: a run per press of Update (uLauncher_UpdateRun.cpp).
  void PrepareUpdateRun();
  bool CheckAndGetAccess(bool retry);
  void CaptionFolderPreparing();
  void CaptionDataPack();
  void CaptionFinishLoading();
  void ResetUpdateState();
  void ShowUpdateFinished();
  void ShowNothingToLoad();
  // The run of the last press of Update while it lasts.
  std::shared_ptr<TUpdateRun> FRun;

  // Control texts read by other threads and by the analytics events.
  std::wstring VersionText() const;

  // ---- State of the launcher ----
  std::wstring FCurrentBranch = L"main";
  std::wstring FClientId;
  std::wstring FSessionId;
  TUpdateResult FUpdateState = urSuccess;
  std::wstring FProcessingHash;
  // The last run failed; set from its first failure until its end is handled.
  bool FErrorOnLoading = false;
  std::wstring FLocalPath;
  std::wstring FLastCommitHash;
  std::wstring FNewCommitHash;
  bool FLauncherUpdated = false;
  std::wstring FConnectionString;
  HWND FGameWindowHandle = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
  // Shared with the session's pool task, which may outlive the window.
  std::shared_ptr<TGameSession> FGame = std::make_shared<TGameSession>();

  // ---- Controls ----
  HWND Img_Fon = nullptr;
  HWND L_CurrentVersion = nullptr;
  HWND L_Version = nullptr;
  HWND ImgBTN_VK = nullptr;
  HWND ImgBTN_Discord = nullptr;
  HWND Panel1 = nullptr;
  HWND L_Update = nullptr;
  HWND L_Text1 = nullptr;
  HWND RB_Release = nullptr;
  HWND RB_Test = nullptr;
  HWND ProgressBar = nullptr;
  HWND BTN_Run = nullptr;
  HWND BTN_Update = nullptr;
  HWND BTN_Exit = nullptr;

  // Update check and analytics state (owned by launchertool/update and launchertool/analytics)
  // ---- begin ----
  // FHttp (asynchronous) carries the repository requests and downloads,
  // FHttpSync (synchronous) the launcher download and the analytics posts.
  // Shared, so that posts still running when the window goes keep them alive.
  std::shared_ptr<class THTTPClient> FHttp;
  std::shared_ptr<class THTTPClient> FHttpSync;
  std::shared_ptr<class TAnalyticsSender> FAnalytics;
  // Creates both clients and the analytics sender on first use (main thread).
  void CreateHttpClients();
  // The start-up check's exchange; closed and waited for with the window.
  std::unique_ptr<TExchangeSet> FCheckExchanges;
  // ---- end ----

 private:
  // TUpdateRunEvents: what the run tells the window.
  void RunStatus(TUpdateRunStatus status) override;
  void RunProgress(int32_t done, int32_t total) override;
  void RunFailed(const Exception& error) override;
  void RunFinished(const TUpdateRunEnd& end) override;

  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
  static LRESULT CALLBACK PanelProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;
  // Window plumbing (window/uLauncher_Window.cpp).
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  // False when the program has to end at once.
  bool FormCreate();
  void FormDestroy();
  bool FormCloseQuery();
  void FormResize(WPARAM sizeKind);
  void TrayIcon1DblClick();
  void BTN_ExitClick();
  void ImgBTN_DiscordClick();
  void ImgBTN_VKClick();
  void RB_BranchClick(HWND sender);
  void OnCommand(int id, int code, HWND control);

  // The update notice with the buttons of both offer states.
  void OfferUpdate(bool gamePlayable);
  // Timer, tray, taskbar (window/uLauncher_Shell.cpp).
  void SetUpdateTimer(bool enabled);
  void ShowTrayIcon(bool visible);
  void SetTaskbarState(int flags);
  void SetTaskbarValue(uint64_t done, uint64_t total);
  void SetProgressMarquee(bool marquee);
  void ApplyTaskbarProgress();

  // Game session (game/uLauncher_Game.cpp).
  static void CALLBACK GameTaskEntry(PTP_CALLBACK_INSTANCE instance, PVOID context) noexcept;
  static BOOL CALLBACK FindGameWindowProc(HWND window, LPARAM launcher);
  void ContinueConnectWait();
  void ConnectAfterWait(const std::wstring& command);

  HWND FHandle = nullptr;
  bool FReadyForRequests = false;
  bool FUpdateTimerEnabled = false;
  bool FTrayIconVisible = false;
  UINT FTaskbarButtonCreatedMessage = 0;
  TUniqueCom<ITaskbarList3> FTaskbar;
  int FTaskbarState = 0;
  int32_t FProgressPosition = 0;
  int32_t FProgressMaximum = 100;
  // The run's latest count, shown at most once a frame (kProgressFrameMs).
  int32_t FRunProgressDone = 0;
  // The status text a retry replaced, given back when the retry succeeds.
  std::wstring FTextBeforeRetry;
  bool FProgressTimerArmed = false;
  std::unique_ptr<TLauncherTheme> FTheme;
  HICON FIconLarge = nullptr;
  HICON FIconSmall = nullptr;
  // The version text as shown, for threads that may not touch the label.
  TGuarded<std::wstring> FVersionText;
  // Connect requests waiting for the game process to appear.
  std::deque<std::wstring> FConnectWaiting;
  int FConnectWaitTicks = 0;
};

// The one window; null before it exists and after it is gone.
extern TfLauncher* fLauncher;

// Posts one usage event; failures are logged, never raised. Safe on any thread.
void PostAnalyticsEvent(class TAnalyticsSender* analytics, const std::wstring& clientId, const std::wstring& name,
                        const std::wstring& version, const TEventParams& extra);

// The launcher's information box: information sound, then a modal box.
// A bare CR in the text is a line break.
void ShowInfo(const std::wstring& text);
