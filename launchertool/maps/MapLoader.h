#pragma once
// TMapLoader: one changed map of an update run. Downloads the map's changed
// files into a new archive <map>.download, assembles changed image pieces on
// a raw canvas, and hands itself to the packer thread, which completes the
// archive and puts it in place of <map>.zip (PackMap).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/ExpectedBlobs.h"
#include "window/SortedStringList.h"

class TCustomZipFile;
class THTTPAsyncContext;
class TMapLoaderHost;
class TStream;
struct TGraphicClass;

class TMapLoader {
 public:
  explicit TMapLoader(std::wstring name);
  ~TMapLoader();
  TMapLoader(const TMapLoader&) = delete;
  TMapLoader& operator=(const TMapLoader&) = delete;

  // Starts the first download and returns; the rest runs in completion handlers.
  void BeginLoading();
  // Completes <map>.zip on the packer thread. Gives back the map's unit of
  // open work exactly once, however it ends; a failure is handed to the
  // window before that, then raised again.
  void PackMap();

  const std::wstring& MapName() const { return FMapName; }
  // The new archive when it did not take the place of <map>.zip (a failed
  // or cancelled map); empty otherwise. Its owner removes it after the loader.
  std::wstring UnplacedArchivePath() const { return FArchivePlaced ? std::wstring() : FSavedZipPath; }

  // Relative to the map folder; filled by the window before loading starts.
  TSortedStringList FFilesList;
  TSortedStringList FFilesToDelete;
  // The repository's blobs of files of FFilesList, where it named them.
  TExpectedBlobs FExpectedBlobs;

 private:
  friend class TMapLoaderTestAccess;

  // The loading chain (MapLoader.cpp).
  void LoadCurrentFile();
  void OnImagePartLoaded(THTTPAsyncContext& context);
  void OnMapFileLoaded(THTTPAsyncContext& context);
  // The handlers' work, given the reply's status and, for a piece, the file
  // it was written to.
  // verify raises when the body must not be used (it did not prove itself).
  using TVerify = std::function<void(const std::wstring& repositoryPath)>;
  void ImagePartLoaded(int32_t status, TStream& piece, const TVerify& verify = nullptr);
  void MapFileLoaded(int32_t status, const TVerify& verify = nullptr);
  // What both completion handlers share; keep(name) takes the finished file.
  void FileLoaded(int32_t status, const wchar_t* endText, const TVerify& verify,
                  const std::function<void(const std::wstring&)>& keep);
  std::wstring RepositoryPath(const std::wstring& name) const;
  // True when the last file has been handled and the map goes to the packer.
  bool LoadNextFile();
  void FinishLoading();
  void HandToPacker();
  // Inside a catch: hands the failure to the window, then gives back the
  // map's unit of open work.
  [[noreturn]] void FailStep();
  // A map that failed or was cancelled: its new archive goes at once.
  void DiscardArchive();
  void CheckNames() const;
  std::wstring CurrentName() const { return FLoadOrder[static_cast<size_t>(FCurrentIndex)]; }
  std::wstring MapsFolder() const;

  // The canvas (MapLoader_Merge.cpp).
  void PrepareMerge();
  void PlacePiece(const std::wstring& name, TStream& piece);

  // Packing (MapLoader_Pack.cpp).
  void Pack();
  void CarryOverOldMembers(const std::wstring& oldArchive, const TGraphicClass* newFormat);
  const TGraphicClass* NewMapFormat();
  // False when <map>.download could not take the place of <map>.zip.
  bool ReplaceOldArchive(const std::wstring& oldArchive);

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
  // FFilesList in its order, fixed when loading starts.
  std::vector<std::wstring> FLoadOrder;
  // The window side of the run (LauncherMapHost); tests give their own.
  TMapLoaderHost* FHost;
};
