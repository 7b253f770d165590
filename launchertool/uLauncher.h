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
#include "update/ExpectedBlobs.h"
#include "window/SortedStringList.h"

class THTTPAsyncContext;
class THTTPResponse;
class TLauncherTheme;
class TMapLoader;
class TMapPacker;
struct TRepositoryRequestTarget;
struct ITaskbarList3;

enum TUpdateResult : uint8_t { urSuccess, urNothing };

// Update channels, indexed by the tag of the channel radio buttons.
inline constexpr const wchar_t* Branches[] = {L"main", L"qa"};

inline constexpr wchar_t kLauncherWindowClass[] = L"TfLauncher";
inline constexpr wchar_t kLauncherCaption[] = L"VELDRA LAUNCHER";
inline constexpr wchar_t kApplicationTitle[] = L"Launcher";

class TfLauncher {
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

  void ActivateApp();
  bool IsError() const { return FErrorOnLoading; }
  void aplctnvnts1Exception(const Exception& e);
  // A failed step of the update run that did not come through the HTTP layer
  // (map packing): stops the run like a failed download and reports it.
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
  using THeadCommitHandler = void (TfLauncher::*)(THTTPAsyncContext& context);
  void RequestHeadCommit(THeadCommitHandler handler);
  void OnVersionChecked(THTTPAsyncContext& context);
  void BTN_UpdateClick();

  // ---- The update run (launchertool/update/) ----
  // A step's completion handler; runs on a WinHTTP worker thread.
  using TStepHandler = void (TfLauncher::*)(THTTPAsyncContext& context);
  // The request convention of every asynchronous step: a GET of the target
  // with its one extra header, on FHttp; the exchange owns request and
  // response, and the handler runs only while the window lives.
  void SendStepRequest(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response,
                       TStepHandler handler);
  // The same for handlers of other objects of the run (the map loaders).
  void SendStepRequest(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response,
                       std::function<void(THTTPAsyncContext&)> handler);
  // Start of a run (uLauncher_UpdateRun.cpp).
  void PrepareUpdateRun(std::function<void()> firstStep);
  // Stops the map packer and frees the run's loaders and plain file list.
  void DiscardLoadingWork();
  void TryGetVersion();
  void OnVersionLoaded(THTTPAsyncContext& context);
  // Launcher self-update and write access (uLauncher_SelfUpdate.cpp).
  void TryGetNewLauncher();
  void OnLauncherInfoLoaded(THTTPAsyncContext& context);
  void PrepareLauncherUpdate();
  bool CheckAndGetAccess(bool retry);
  // Change lists (uLauncher_ChangeList.cpp).
  // Commits whose change lists this chain has applied, oldest first: a
  // commit met again ends the run instead of looping.
  std::vector<std::wstring> FChangeListChain;
  void GetChangesList();
  void OnChangesListLoaded(THTTPAsyncContext& context);
  void RequestNextCommit();
  void OnNextCommitLoaded(THTTPAsyncContext& context);
  void MarkForDownload(const std::wstring& path);
  void MarkForDelete(const std::wstring& path);
  // Full tree walk (uLauncher_TreeWalk.cpp).
  // The head commit asked for before a walk that does not know it yet.
  void OnFullUpdateHeadLoaded(THTTPAsyncContext& context);
  void TryFullUpdate();
  void RequestTree(const std::wstring& folder, const std::wstring& url);
  void OnTreeLoaded(THTTPAsyncContext& context);
  // Download queue (uLauncher_Downloads.cpp).
  // The run's plain files, fixed before the first item starts: workers read
  // these while the main thread may empty FFileListToDownload after an error.
  std::vector<std::wstring> FPlainFilesToLoad;
  // Every repository path the run's downloads write, map archives included;
  // fixed like FPlainFilesToLoad.
  TSortedStringList FRunPaths;
  void BeginFileLoading();
  void StartLoadingItem(int32_t index);
  void OnFileLoaded(THTTPAsyncContext& context);
  void TryLoadNextFile();
  void IncrementActiveFiles();
  void EndLoadingStep();
  void IncProgress();
  void ResetProgress();
  void CaptionFolderPreparing();
  void CaptionFileLoading();
  void CaptionDataPack();
  void CaptionFinishLoading();
  // Finishing (uLauncher_Finish.cpp).
  void FinishUpdate();
  void ApplyDeletions();
  void DeleteUnlistedFiles(const std::wstring& folder);
  void WriteLastFile();
  void ResetUpdateState();
  void ShowUpdateFinished();
  void ShowNothingToLoad();

  // Control texts read by other threads and by the analytics events.
  std::wstring VersionText() const;

  // ---- State of the launcher ----
  std::wstring FCurrentBranch = L"main";
  std::wstring FClientId;
  std::wstring FSessionId;
  TUpdateResult FUpdateState = urSuccess;
  std::function<void()> FNextUpdateState;
  std::wstring FProcessingHash;
  TSortedStringList FFileListToDelete;
  int32_t FDownloadLength = 0;
  std::atomic<bool> FErrorOnLoading{false};
  std::wstring FCurrentFolder;
  TSortedStringList FFileListToDownload;
  TSortedStringList FFullListToDownload;
  // Blob hashes the walk learned for the files it put on the download list.
  TExpectedBlobs FExpectedBlobs;
  std::vector<std::pair<std::wstring, std::wstring>> FURLsToDownload;
  std::atomic<int32_t> FFileOffset{0};
  std::atomic<int32_t> FLoadingCount{0};
  // The packing text was queued since the download text was last queued.
  std::atomic<bool> FPackingCaptionQueued{false};
  // Map loaders of the run, in work-item order; they live until the run is reset.
  std::vector<std::unique_ptr<TMapLoader>> FLoadedMaps;
  std::unique_ptr<TMapPacker> FMapPacker;
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
  // Completion handlers of repository requests act only while this is alive.
  std::shared_ptr<int> FAliveToken = std::make_shared<int>(0);
  // ---- end ----

 private:
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
