#include "Graphics.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
template <class T>
std::unique_ptr<TGraphic> Make() {
  return std::make_unique<T>();
}
}  // namespace

const TGraphicClass kBitmapGraphicClass{L"bmp", Make<TBitmapImage>};
const TGraphicClass kJPEGGraphicClass{L"jpg", Make<TJPEGImage>};
const TGraphicClass kPngGraphicClass{L"png", Make<TPngImage>};

const TGraphicClass* GraphicClassForFormat(const std::wstring& Format) {
  if (Format == L"bmp") return &kBitmapGraphicClass;
  if (Format == L"jpg" || Format == L"jpeg") return &kJPEGGraphicClass;
  if (Format == L"png") return &kPngGraphicClass;
  return nullptr;
}

void TGraphic::LoadFromStream(TStream& Stream) {
  FRows.reset();
  TBitmap24 decoded;
  TBitmapRowSink sink(decoded);
  Decode(Stream, sink);
  FDecoded = std::move(decoded);
}

int32_t TGraphic::Width() const { return FRows ? FRows->Width() : FDecoded.Width(); }
int32_t TGraphic::Height() const { return FRows ? FRows->Height() : FDecoded.Height(); }

void TGraphic::Draw(TBitmap24& Target) const {
  int32_t w = std::min(Width(), Target.Width()), h = std::min(Height(), Target.Height());
  std::vector<uint8_t> row(FRows ? static_cast<size_t>(Width()) * 3 : 0);
  for (int32_t y = 0; y < h; ++y) {
    if (FRows) {
      FRows->ReadRow(y, row.data());
      std::memcpy(Target.Row(y), row.data(), static_cast<size_t>(w) * 3);
    } else {
      std::memcpy(Target.Row(y), FDecoded.Row(y), static_cast<size_t>(w) * 3);
    }
  }
}

void TGraphic::Assign(std::unique_ptr<TImageRowSource> Rows) {
  FDecoded = TBitmap24();
  FRows = std::move(Rows);
}

void TGraphic::Assign(const TBitmap24& Bitmap) {
  FRows.reset();
  FDecoded = Bitmap;
}

void TGraphic::SaveToStream(TStream& Stream) {
  if (FRows) {
    Encode(*FRows, Stream);
  } else {
    TBitmapRowSource rows(FDecoded);
    Encode(rows, Stream);
  }
}

std::unique_ptr<TBitmap24> GraphicToBitmap(const TGraphic& Image) {
  auto bitmap = std::make_unique<TBitmap24>(Image.Width(), Image.Height());
  Image.Draw(*bitmap);
  return bitmap;
}
