#pragma once
// What a map loader needs of its update run. Every call comes on the main
// thread, while the run lives; tests give their own host.
#include <functional>
#include <memory>
#include <string>

#include "Exceptions.h"
#include "update/RetrySchedule.h"
#include "window/SortedStringList.h"

class THTTPAsyncContext;
class THTTPResponse;
class TMapLoader;
class TTemporaryRecord;

class TMapLoaderHost {
 public:
  // Runs on a WinHTTP worker thread when the reply has ended; raises to refuse it.
  using TArrived = std::function<void(THTTPAsyncContext& context)>;
  // Runs on the main thread afterwards: null, or why the file did not arrive.
  using TDone = std::function<void(std::shared_ptr<Exception> failure)>;

  virtual ~TMapLoaderHost() = default;

  // Repository paths the run writes: never taken as temporary names.
  virtual const TSortedStringList& RunPaths() = 0;
  // Where the run writes down its temporary files; none when null.
  virtual std::shared_ptr<TTemporaryRecord> TemporaryRecord() { return nullptr; }
  // True once the run stops; read on worker and packer threads, so it owns
  // what it reads.
  virtual std::function<bool()> AbortTest() = 0;
  // Starts the download of a file of a map folder; the exchange owns the response.
  virtual void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                              std::unique_ptr<THTTPResponse> response, TArrived arrived, TDone done) = 0;
  // A failed file worth another try: retry runs after a pause, or giveUp when
  // the run stops first. False when the failure is final or its tries are
  // spent. Hosts that never retry keep the default.
  virtual bool RetryLater(TRetryCount&, const std::wstring& /*what*/, const Exception& /*failure*/,
                          std::function<void()> /*retry*/, std::function<void()> /*giveUp*/) {
    return false;
  }
  // A file that failed before arrived again.
  virtual void Retried() {}
  // One file of a map is in: one step of progress.
  virtual void MapFileLoaded() = 0;
  // Every file of the map is in: it goes to the packer.
  virtual void MapDownloaded(std::shared_ptr<TMapLoader> map) = 0;
  // The map failed or was cancelled; its new archive is gone already.
  virtual void MapFailed(std::shared_ptr<TMapLoader> map, std::shared_ptr<Exception> error) = 0;
};
