#pragma once
// What a map loader and the packer need of the window during an update run.
// The launcher's host forwards to the one window; tests give their own.
#include <functional>
#include <memory>
#include <string>

#include "Exceptions.h"
#include "window/SortedStringList.h"

class THTTPAsyncContext;
class THTTPResponse;
class TMapLoader;

class TMapLoaderHost {
 public:
  using TFileLoaded = std::function<void(THTTPAsyncContext& context)>;
  virtual ~TMapLoaderHost() = default;

  // The installation folder, no trailing separator.
  virtual std::wstring LocalPath() = 0;
  virtual bool IsError() = 0;
  virtual void IncrementActiveFiles() = 0;
  virtual void EndLoadingStep() = 0;
  // Runs on the main thread; returns when done.
  virtual void IncProgress() = 0;
  virtual void TryLoadNextFile() = 0;
  // Queued to the main thread.
  virtual void CaptionDataPack() = 0;
  virtual void AddToPacker(TMapLoader* map) = 0;
  // Stops the run and shows the error; queued to the main thread.
  virtual void ReportRunFailure(std::shared_ptr<Exception> e) = 0;
  // Starts the download of a file of a map folder; the exchange owns the
  // response, and loaded runs on a worker thread when the reply has ended.
  virtual void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                              std::unique_ptr<THTTPResponse> response, TFileLoaded loaded) = 0;
  // Repository paths the run writes: never taken as temporary names.
  virtual const TSortedStringList& RunPaths() {
    static const TSortedStringList none;
    return none;
  }
  // The abort test of the downloads.
  std::function<bool()> AbortTest() {
    return [this] { return IsError(); };
  }
};

// Forwards to fLauncher: IncProgress synchronized, CaptionDataPack and the
// failure report queued to the main thread, downloads on the window's FHttp.
class TLauncherMapHost : public TMapLoaderHost {
 public:
  std::wstring LocalPath() override;
  bool IsError() override;
  void IncrementActiveFiles() override;
  void EndLoadingStep() override;
  void IncProgress() override;
  void TryLoadNextFile() override;
  void CaptionDataPack() override;
  void AddToPacker(TMapLoader* map) override;
  // Sets the window's error flag at once, then queues the report.
  void ReportRunFailure(std::shared_ptr<Exception> e) override;
  void RequestMapFile(const std::wstring& mapName, const std::wstring& fileName,
                      std::unique_ptr<THTTPResponse> response, TFileLoaded loaded) override;
  const TSortedStringList& RunPaths() override;
};

// The one host of the launcher's loaders.
TMapLoaderHost& LauncherMapHost();
