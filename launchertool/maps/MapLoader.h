#pragma once
// TMapLoader: one changed map of an update run. Downloads the map's changed
// files into a new archive <map>.download, assembles changed image pieces on
// a raw canvas, and goes to the packer thread, which completes the archive
// and puts it in place of <map>.zip (Pack). The main thread decides (start,
// next file, failure); a reply's bytes go into the archive or onto the
// canvas on the worker thread that received them; every piece of async work
// holds the loader, so it lives as long as any of them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "update/ExpectedBlobs.h"
#include "update/RetrySchedule.h"
#include "window/SortedStringList.h"

class TCustomZipFile;
class THTTPAsyncContext;
class TMapLoaderHost;
class TStream;
class TTemporaryRecord;
struct TGraphicClass;

class TMapLoader : public std::enable_shared_from_this<TMapLoader> {
 public:
  // host: reached on the main thread only, while the run lives.
  TMapLoader(std::wstring name, std::wstring localPath, TMapLoaderHost& host);
  // Closes the new archive and removes it unless it took <map>.zip's place.
  ~TMapLoader();
  TMapLoader(const TMapLoader&) = delete;
  TMapLoader& operator=(const TMapLoader&) = delete;

  // Main thread: starts the first download and returns; the map's end comes
  // to the host (MapDownloaded or MapFailed), possibly before this returns.
  void BeginLoading();
  // Packer thread: completes the new archive and puts it in place of
  // <map>.zip; raises on failure, after removing the new archive. A
  // cancelled run leaves <map>.zip as it was; stopped() ends an encoding
  // under way (EAbort).
  void Pack(const std::function<bool()>& stopped = {});

  const std::wstring& MapName() const { return FMapName; }
  bool ArchivePlaced() const { return FArchivePlaced; }

  // Relative to the map folder; filled by the run before loading starts.
  TSortedStringList FFilesList;
  TSortedStringList FFilesToDelete;
  // The repository's blobs of files of FFilesList, where it named them.
  TExpectedBlobs FExpectedBlobs;

 private:
  friend class TMapLoaderTestAccess;

  // The loading chain (MapLoader.cpp). Main thread: LoadCurrentFile,
  // FileDone, Fail; worker thread: the arrival of a reply.
  void LoadCurrentFile();
  // verify raises when the body must not be used (it did not prove itself).
  using TVerify = std::function<void(const std::wstring& repositoryPath)>;
  // A reply has ended: its status, and for a piece the file it was written to.
  void ImagePartLoaded(int32_t status, TStream& piece, const TVerify& verify = nullptr);
  void MapFileLoaded(int32_t status, const TVerify& verify = nullptr);
  // What both share; keep(name) takes the finished file.
  void FileLoaded(int32_t status, const wchar_t* endText, const TVerify& verify,
                  const std::function<void(const std::wstring&)>& keep);
  // Back on the main thread: the next file, a retry, the packer, or the failure.
  void FileDone(std::shared_ptr<Exception> failure);
  // The current file once more, from its start.
  void RetryCurrentFile();
  std::wstring RepositoryPath(const std::wstring& name) const;
  void FinishLoading();
  // The map failed or was cancelled: its new archive goes, the host hears of it.
  void Fail(std::shared_ptr<Exception> error);
  void DiscardArchive();
  bool Cancelled() const { return FIsCancelled && FIsCancelled(); }
  void CheckNames() const;
  std::wstring CurrentName() const { return FLoadOrder[static_cast<size_t>(FCurrentIndex)]; }
  std::wstring MapsFolder() const;

  // The canvas (MapLoader_Merge.cpp).
  void PrepareMerge();
  void PlacePiece(const std::wstring& name, TStream& piece);

  // Packing (MapLoader_Pack.cpp).
  void PackArchive(const std::function<bool()>& stopped);
  void CarryOverOldMembers(const std::wstring& oldArchive, const TGraphicClass* newFormat);
  const TGraphicClass* NewMapFormat();
  // Puts <map>.download in place of <map>.zip: ERROR_SUCCESS or why not.
  unsigned long ReplaceOldArchive(const std::wstring& oldArchive);

  // First, so that it goes last: after <map>.download is gone.
  std::shared_ptr<TTemporaryRecord> FTemporaryRecord;
  std::wstring FMapName;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::unique_ptr<TStream> FBitmapRawStream;
  const TGraphicClass* FOldMapFormat = nullptr;
  std::unique_ptr<TCustomZipFile> FSavedZip;
  // The file FSavedZip writes: <map>.zip's replacement until packing ends.
  std::wstring FSavedZipPath;
  bool FArchivePlaced = false;
  int32_t FCurrentIndex = 0;
  // The tries of the current file.
  TRetryCount FRetryCount;
  // FFilesList in its order, fixed when loading starts.
  std::vector<std::wstring> FLoadOrder;
  std::wstring FLocalPath;
  TMapLoaderHost* FHost;
  // The run's abort test, safe on any thread.
  std::function<bool()> FIsCancelled;
};
