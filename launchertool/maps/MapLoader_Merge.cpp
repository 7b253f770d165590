// The raw canvas of a map: the old map image and the downloaded pieces are
// decoded straight into it, row by row.
#include <memory>

#include "images/Graphics.h"
#include "images/RawCanvas.h"
#include "StreamExtensions.h"
#include "FileSystem.h"
#include "install/DiskSpace.h"
#include "maps/MapFormat.h"
#include "maps/MapLoader.h"
#include "maps/MapLoaderHost.h"
#include "maps/MapPieceName.h"
#include "maps/TempFileStream.h"
#include "uZipFixes.h"
#include "update/DownloadError.h"

namespace {
// Writes a piece at its grid place; a piece that would reach beyond the
// canvas is refused before any row is written.
class TPieceSink : public TRawCanvasRowSink {
 public:
  TPieceSink(TStream& canvas, int32_t x0, int32_t y0, std::wstring name)
      : TRawCanvasRowSink(canvas, x0, y0), FX0(x0), FY0(y0), FName(std::move(name)) {}
  void Start(int32_t width, int32_t height) override {
    if (width > raw_canvas::kSide - FX0 || height > raw_canvas::kSide - FY0)
      throw EDownloadError(L"Часть изображения карты выходит за его пределы: " + FName + L"!");
    // A larger piece would paint over its neighbours' places.
    if (width > kMapPieceSide || height > kMapPieceSide)
      throw EDownloadError(L"Часть изображения карты слишком велика: " + FName + L"!");
    TRawCanvasRowSink::Start(width, height);
  }

 private:
  int32_t FX0, FY0;
  std::wstring FName;
};

// The old image goes onto the canvas in the temporary folder: an image that
// clearly does not fit there is refused before its first row.
class TRoomCheckedSink : public TRawCanvasRowSink {
 public:
  using TRawCanvasRowSink::TRawCanvasRowSink;
  void Start(int32_t width, int32_t height) override {
    if (width > 0 && height > 0) RequireRoom(TemporaryFolder(), static_cast<uint64_t>(width) * height * 3);
    TRawCanvasRowSink::Start(width, height);
  }
};
}  // namespace

void TMapLoader::PrepareMerge() {
  FBitmapRawStream = CreateTempStream();
  FBitmapRawStream->SetSize(raw_canvas::kSize);
  std::wstring old = MapsFolder() + FMapName + L".zip";
  if (!FileExists(old) || !TZipFile::IsValid(old)) return;
  TZipFile archive;
  archive.Open(old, TZipMode::zmRead);
  if (archive.IndexOf(L"settings.ini") < 0) return;
  FOldMapFormat = GraphicClassForFormat(ReadMapFormat(archive));
  if (!FOldMapFormat) return;
  // Looked up under the name packing gives it ("jpeg" maps store map.jpg).
  std::wstring image = std::wstring(L"map.") + FOldMapFormat->Extension;
  if (archive.IndexOf(image) < 0) return;
  TZipHeader header;
  // The size is known only once the member has been opened.
  std::unique_ptr<TStream> reader = archive.Read(image, header);
  TPartialStream member(reader.release(), header.UncompressedSize, true);
  TRoomCheckedSink sink(*FBitmapRawStream, 0, 0);
  FOldMapFormat->Create()->DecodeInto(member, sink);
  FWidth = sink.Width();
  FHeight = sink.Height();
}

void TMapLoader::PlacePiece(const std::wstring& name, TStream& piece) {
  const TGraphicClass* kind = GraphicClassForFormat(MapFileExtension(name));
  // Pieces of other formats are counted and skipped.
  if (!kind) return;
  auto place = ParseMapPieceName(name);
  if (!place || place->Column >= kMapPieceGrid || place->Row >= kMapPieceGrid)
    throw EDownloadError(L"Неверное имя части изображения карты: " + FMapName + L"/" + name + L"!");
  int32_t x0 = place->Column * kMapPieceSide, y0 = place->Row * kMapPieceSide;
  piece.SetPosition(0);
  TPieceSink sink(*FBitmapRawStream, x0, y0, FMapName + L"/" + name);
  kind->Create()->DecodeInto(piece, sink);
  int32_t w = sink.Width(), h = sink.Height();
  // A full-size piece only widens the image; a narrower one lies in the last
  // column and sets the edge (rows likewise).
  if (x0 + w > FWidth || w != kMapPieceSide) FWidth = x0 + w;
  if (y0 + h > FHeight || h != kMapPieceSide) FHeight = y0 + h;
}
