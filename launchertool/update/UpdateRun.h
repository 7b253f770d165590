#pragma once
// TUpdateRun: one press of "Обновить", from the launcher check to the
// finishing step. The window starts it, hears from it through
// TUpdateRunEvents and forgets it when it has finished.
//
//   Start ─► launcher check ─┬─► (self-update ─► restart) ─────────────► End
//                            ├─► head ─┬─► change list ◄─► next commit ─┐
//                            │         └─► (same head) ─► Finish        │
//                            └─► [no list] head ─► tree ◄─► folders ─┐  │
//                                                                    ▼  ▼
//                        downloads (21 at once) ─► maps packed ─► Finish ─► End
//   A failure anywhere: reported at once, no new work starts, the work in
//   flight ends (its exchanges are closed), then Finish ─► End. Only a run
//   without failure deletes files and writes .last in Finish; a run that
//   failed leaves every file old or new, and the next run continues.
//
// Where work runs: every decision and every change of the run's state on the
// main thread (replies and packer results are posted there); WinHTTP worker
// threads only move bytes (bodies into temporary files, hashes, a verified
// file into its place, pieces onto their canvas); the packer thread encodes
// map images and completes their archives. So the run's state needs no lock.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "maps/MapLoaderHost.h"
#include "update/DownloadSlots.h"
#include "update/ExchangeSet.h"
#include "update/ExpectedBlobs.h"
#include "update/RetrySchedule.h"
#include "update/TemporaryFiles.h"
#include "update/TreeWalk.h"
#include "window/SortedStringList.h"

class THTTPClient;
class TMapLoader;
class TPlacedFiles;
struct TPlainDownload;
class TMapPacker;
struct TRepositoryRequestTarget;

enum TUpdateResult : uint8_t { urSuccess, urNothing };

// The rate-limit headers of a tree reply (0 when absent).
struct TRateLimitReading {
  uint32_t Remaining = 0;
  uint32_t Reset = 0;
};

// The status texts of a run, in the order they usually appear.
// Retrying replaces the text while a failed request waits for its next try;
// Retried gives the window its text back.
enum class TUpdateRunStatus { PreparingFolders, Downloading, Packing, Finishing, Retrying, Retried };

struct TUpdateRunEnd {
  enum TOutcome { Installed, NothingToLoad, Failed, Restarting } Outcome = Failed;
  // The head the run worked towards (empty when it never learned it), and the
  // commit its change-list chain reached.
  std::wstring NewCommitHash;
  std::wstring ProcessingHash;
  bool LauncherUpdated = false;
};

// What the window hears of its run; all on the main thread.
class TUpdateRunEvents {
 public:
  virtual ~TUpdateRunEvents() = default;
  virtual void RunStatus(TUpdateRunStatus status) = 0;
  virtual void RunProgress(int32_t done, int32_t total) = 0;
  // The first failure, once and at once; the run then only winds down.
  virtual void RunFailed(const Exception& error) = 0;
  // Once, last.
  virtual void RunFinished(const TUpdateRunEnd& end) = 0;
};

struct TUpdateRunSettings {
  std::wstring LocalPath;  // the installation folder, no trailing separator
  std::wstring Branch;
  std::wstring LastCommitHash;
  std::wstring NewCommitHash;  // known from the start-up check, or empty
  std::shared_ptr<THTTPClient> Client;  // asynchronous
};

class TUpdateRun : public std::enable_shared_from_this<TUpdateRun>, private TMapLoaderHost {
 public:
  static std::shared_ptr<TUpdateRun> Create(TUpdateRunSettings settings, TUpdateRunEvents& events);
  // Closes the exchanges and waits for them and for the packer: closing the
  // window in the middle of a run leaves every file as it was or complete.
  ~TUpdateRun() override;
  TUpdateRun(const TUpdateRun&) = delete;
  TUpdateRun& operator=(const TUpdateRun&) = delete;

  // The first step: the launcher check.
  void Start();
  bool Failed() const { return FFailure != nullptr; }
  bool Ended() const { return FEnded; }

  // ---- The steps; public so that tests can drive them with a reply ----
  // Launcher self-update (UpdateRun_SelfUpdate.cpp).
  void TryGetNewLauncher();
  // True when the installation's launcher was moved aside.
  bool PrepareLauncherUpdate();
  // The head of a run that knows none yet (UpdateRun.cpp).
  void TryGetVersion();
  void OnVersionLoaded(int32_t status, const std::wstring& body);
  // Change lists (UpdateRun_ChangeList.cpp).
  void GetChangesList();
  void RequestNextCommit();
  void OnChangesListLoaded(int32_t status, const std::wstring& body);
  void OnNextCommitLoaded(int32_t status, const std::wstring& body);
  void MarkForDownload(const std::wstring& path);
  void MarkForDelete(const std::wstring& path);
  // Full tree walk (UpdateRun_TreeWalk.cpp).
  void TryFullUpdate();
  void OnFullUpdateHeadLoaded(int32_t status, const std::wstring& body);
  void RequestTree(const std::wstring& folder, const std::wstring& url);
  void OnTreeLoaded(int32_t status, const std::wstring& body, const TRateLimitReading& rateLimit);
  // Download queue (UpdateRun_Downloads.cpp).
  void BeginFileLoading();
  // Finishing (UpdateRun_Finish.cpp).
  void FinishUpdate();
  // Deletions of every kind; only a run that fetched everything applies them.
  void ApplyDeletions();
  void WriteLastFile();

  // A failure of the run: the first is reported, later ones only logged.
  void Fail(std::shared_ptr<Exception> error);
  // Runs a step on the main thread; what it raises fails the run, and the
  // run ends when the step left nothing in flight.
  void Step(const std::function<void()>& step);
  // The lists, open to tests.
  TTreeWalkLists Lists() {
    return {FFileListToDownload, FFullListToDownload, FURLsToDownload, FExpectedBlobs, FFileListToDelete};
  }

  // ---- State of the run (main thread only) ----
  TUpdateRunSettings FSettings;
  std::wstring FProcessingHash;
  std::wstring FNewCommitHash;
  TUpdateResult FUpdateState = urSuccess;
  bool FLauncherUpdated = false;
  // Commits whose change lists this chain has applied, oldest first: a
  // commit met again ends the run instead of looping.
  std::vector<std::wstring> FChangeListChain;
  TSortedStringList FFileListToDownload;
  TSortedStringList FFileListToDelete;
  TSortedStringList FFullListToDownload;
  // Blob hashes the walk learned for the files it put on the download list.
  TExpectedBlobs FExpectedBlobs;
  TFolderQueue FURLsToDownload;
  std::wstring FCurrentFolder;
  // Every repository path the run's downloads write, map archives included;
  // temporary files never take these names.
  TSortedStringList FRunPaths;
  std::vector<std::wstring> FPlainFilesToLoad;
  int32_t FDownloadLength = 0;
  int32_t FProgress = 0;

 private:
  TUpdateRun(TUpdateRunSettings settings, TUpdateRunEvents& events);

  struct TTextReply {
    int32_t Status = 0;
    std::wstring Body;
    TRateLimitReading RateLimit;
  };
  using TTextHandler = std::function<void(const TTextReply& reply)>;
  // A GET whose reply is read as text; handler runs as a step of the run.
  void RequestText(const TRepositoryRequestTarget& target, TTextHandler handler);
  void SendText(const TRepositoryRequestTarget& target, const std::shared_ptr<TTextHandler>& handler,
                const std::shared_ptr<TRetryCount>& count);
  void RequestHeadCommit(void (TUpdateRun::*handler)(int32_t status, const std::wstring& body));
  // Ends the run once nothing is in flight any more.
  void EndWhenIdle();
  void End(TUpdateRunEnd::TOutcome outcome);
  void Status(TUpdateRunStatus status);
  void AddProgress();
  void DiscardLoadingWork();
  // The files below folder (a repository path ending in "/") that the walk's
  // full list does not name, outside the player's subtree.
  void CollectUnlistedFiles(const std::wstring& folder, std::vector<std::wstring>& unlisted);

  // Self-update.
  void OnLauncherInfoLoaded(int32_t status, const std::wstring& body);
  void OnLauncherDownloaded(const std::wstring& downloaded, const std::wstring& sha);
  // The step after the launcher check.
  std::function<void()> FNextUpdateState;
  bool FFinishing = false;

  // Downloads.
  // Refuses a run whose new files clearly do not fit on the drive.
  void RequireRoomForDownloads();
  void StartItems();
  void StartItem(int32_t index);
  void StartPlainFile(const std::wstring& path);
  void SendPlainFile(const std::shared_ptr<TPlainDownload>& download);
  void PlainFileEnded(const std::shared_ptr<TPlainDownload>& download, std::shared_ptr<Exception> failure);
  void ItemEnded(std::shared_ptr<Exception> failure);
  // Takes off the download list the files an earlier run for this head
  // placed and that are still what it proved.
  void SkipFilesPlacedBefore();

  // Retries (UpdateRun_Retry.cpp).
  bool RetryLater(TRetryCount& count, const std::wstring& what, const Exception& failure, std::function<void()> retry,
                  std::function<void()> giveUp) override;
  void Retried() override;
  // The run failed: every waiting retry gives up at once.
  void GiveUpWaitingRetries();

  // TMapLoaderHost: the run's side of its map loaders.
  const TSortedStringList& RunPaths() override { return FRunPaths; }
  std::shared_ptr<TTemporaryRecord> TemporaryRecord() override;
  std::function<bool()> AbortTest() override;
  void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                      std::unique_ptr<THTTPResponse> response, TArrived arrived, TDone done) override;
  void MapFileLoaded() override { AddProgress(); }
  void MapDownloaded(std::shared_ptr<TMapLoader> map) override;
  void MapFailed(std::shared_ptr<TMapLoader> map, std::shared_ptr<Exception> error) override;
  void MapPacked(std::shared_ptr<Exception> error);
  void StartPacker();
  // Posts a call of the run to the main thread, made only while the run lives.
  void Post(std::function<void(TUpdateRun&)> call);

  TUpdateRunEvents& FEvents;
  TExchangeSet FExchanges;
  // The run's temporary files, written down until it succeeds; made at the
  // first use, for the installation folder of that moment.
  std::shared_ptr<TTemporaryRecord> FTemporaries;
  // Read by the downloads' abort tests on worker threads.
  std::shared_ptr<std::atomic<bool>> FCancelled = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<Exception> FFailure;
  bool FEnded = false;
  bool FDownloading = false;
  bool FPackingShown = false;
  TDownloadSlots FSlots;
  // Retries waiting for their pause, by id: what each does when the run stops first.
  std::map<uint64_t, std::function<void()>> FWaitingRetries;
  uint64_t FNextRetryId = 0;
  bool FRetryShown = false;
  // The files this run placed, for the run after it should this one fail.
  std::unique_ptr<TPlacedFiles> FPlacedFiles;
  // Map loaders of the run, in work-item order.
  std::vector<std::shared_ptr<TMapLoader>> FLoadedMaps;
  std::unique_ptr<TMapPacker> FMapPacker;
};
