// Packing a loaded map on the packer thread: the unchanged members of the
// old archive are carried over, the canvas is encoded into the map image,
// and the new archive takes the place of <map>.zip.
#include <windows.h>

#include <functional>
#include <memory>

#include "FileSystem.h"
#include "images/Graphics.h"
#include "images/RawCanvas.h"
#include "StreamExtensions.h"
#include "install/OwnedFiles.h"
#include "maps/MapFormat.h"
#include "maps/MapLoader.h"
#include "uDebugUtils.h"
#include "uZipFixes.h"
#include "update/DownloadError.h"
#include "update/MachineFaults.h"

namespace {
void LogUpdate(const std::wstring& message) { LogMessage(L"Update", message); }

std::wstring ImageMemberName(const TGraphicClass& format) { return std::wstring(L"map.") + format.Extension; }

// The canvas rows for the encoder; a packer asked to stop (the window is
// closing) ends the encoding instead of waiting for it.
class TCancellableRows : public TRawCanvasRowSource {
 public:
  TCancellableRows(TStream& canvas, int32_t width, int32_t height, const std::function<bool()>& stopped)
      : TRawCanvasRowSource(canvas, width, height), FStopped(stopped) {}
  void ReadRow(int32_t y, uint8_t* bgr) override {
    if (y % 64 == 0 && FStopped && FStopped()) throw EAbort(L"Map packing stopped");
    TRawCanvasRowSource::ReadRow(y, bgr);
  }

 private:
  const std::function<bool()>& FStopped;
};

// Ends a streamed member left open by a failure; nothing to do when none is.
void EndOpenMember(TCustomZipFile* archive) {
  if (!archive) return;
  try {
    archive->EndAddFile();
  } catch (...) {
  }
}
}  // namespace

void TMapLoader::Pack(const std::function<bool()>& stopped) {
  try {
    LogUpdate(L"Begin map packing: " + FMapName);
    PackArchive(stopped);
  } catch (...) {
    EndOpenMember(FArchive ? FArchive->Zip.get() : nullptr);
    DiscardArchive();
    throw;
  }
}

const TGraphicClass* TMapLoader::NewMapFormat() {
  const TGraphicClass* format = FOldMapFormat;
  // A settings.ini of this run is already a member of the new archive.
  if (FFilesList.count(L"settings.ini")) format = GraphicClassForFormat(ReadMapFormat(Zip()));
  if (!format)
    throw EDownloadError(L"Не удалось определить формат изображения карты " + FMapName + L"!");
  return format;
}

void TMapLoader::PackArchive(const std::function<bool()>& stopped) {
  TCustomZipFile& saved = Zip();
  const TGraphicClass* format = FBitmapRawStream ? NewMapFormat() : nullptr;
  std::wstring old = MapsFolder() + FMapName + L".zip";
  if (FileExists(old) && TZipFile::IsValid(old)) CarryOverOldMembers(old, format);

  if (FBitmapRawStream) {
    LogUpdate(L"Repack map image: " + FMapName);
    FOldMapFormat = format;
    // PNG is compressed already; deflating it again gains nothing.
    uint16_t method = format == &kPngGraphicClass ? zip::kMethodStored : zip::kMethodDeflated;
    TStream* member = saved.PrepareAddFile(ImageMemberName(*format), method);
    std::unique_ptr<TGraphic> image = format->Create();
    image->Assign(std::make_unique<TCancellableRows>(*FBitmapRawStream, FWidth, FHeight, stopped));
    if (Cancelled()) {
      // Cancelled: <map>.zip stays as it was, the new archive goes.
      image.reset();
      saved.EndAddFile();
      DiscardArchive();
      return;
    }
    image->SaveToStream(*member);
    image.reset();
    saved.EndAddFile();
  }

  saved.Close();
  FArchive->Zip.reset();
  const DWORD error = ReplaceOldArchive(old);
  if (error == ERROR_CANCELLED && FPlaceGuard) {
    // The run stopped while the archive was completed: <map>.zip stays as it was.
    DiscardArchive();
    return;
  }
  LogUpdate(L"End map packing: " + FMapName);
  if (error == ERROR_SUCCESS) return;
  // The run must not end as a success with the old map in place.
  if (MachineFaultOf(error) == TMachineFault::FileHeld)
    throw EDownloadError(FileHeldMessage(std::wstring(L"/data/maps/") + FMapName + L".zip"));
  throw EDownloadError(L"Не удалось заменить архив карты " + FMapName +
                       L"! Возможно, он занят игрой. Закройте игру и повторите обновление.");
}

void TMapLoader::CarryOverOldMembers(const std::wstring& oldArchive, const TGraphicClass* newFormat) {
  TZipFile archive;
  archive.Open(oldArchive, TZipMode::zmRead);
  std::wstring skip = FBitmapRawStream && FOldMapFormat ? ImageMemberName(*FOldMapFormat) : std::wstring();
  // The image assembled now replaces an old one of the same name (also when
  // the old settings named no format), so no name is stored twice.
  std::wstring replaced = newFormat ? ImageMemberName(*newFormat) : std::wstring();
  TCaseInsensitiveLess less;
  std::vector<int> selected;
  for (int index = 0; index < archive.FileCount(); ++index) {
    std::wstring name = archive.FileName(index);
    if (FFilesList.count(name) || FFilesToDelete.count(name) || name == skip) continue;
    if (!replaced.empty() && !less(name, replaced) && !less(replaced, name)) continue;
    selected.push_back(index);
  }
  for (int index : selected) {
    std::wstring name = archive.FileName(index);
    LogUpdate(L"Repack map file: " + FMapName + L"\\" + name);
    TZipHeader header;
    std::unique_ptr<TStream> reader = archive.Read(index, header);
    TPartialStream member(reader.release(), header.UncompressedSize, true);
    Zip().Add(member, name, zip::kMethodDeflated);
  }
}

DWORD TMapLoader::ReplaceOldArchive(const std::wstring& oldArchive) {
  // One step: there is never a moment without <map>.zip.
  // The check that the run still wants it and the move are one step.
  const DWORD error = ReplaceOwnedFile(FArchive->Path, oldArchive, FPlaceGuard);
  if (error == ERROR_SUCCESS) {
    FArchive->Placed = true;
    FArchivePlaced = true;
    return error;
  }
  if (error == ERROR_CANCELLED && FPlaceGuard) return error;
  LogUpdate(L"Can't replace map archive: " + FMapName + L" (" + std::to_wstring(error) + L": " +
            SysErrorMessage(error) + L")");
  return error;
}
