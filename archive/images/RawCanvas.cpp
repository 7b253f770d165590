#include "RawCanvas.h"

#include <algorithm>
#include <cstring>

#include "Exceptions.h"

TRawCanvasRowSource::TRawCanvasRowSource(TStream& canvas, int32_t width, int32_t height)
    : FCanvas(canvas), FWidth(width), FHeight(height) {
  if (width < 0 || height < 0 || width > raw_canvas::kSide || height > raw_canvas::kSide)
    throw EArgumentOutOfRangeException();
}

void TRawCanvasRowSource::ReadRow(int32_t y, uint8_t* bgr) {
  if (y < 0 || y >= FHeight) throw EArgumentOutOfRangeException();
  if (y < FBlockFirst || y >= FBlockFirst + FBlockCount) {
    bool backward = y < FLastRow;
    int32_t first = backward ? std::max(0, y - kBlockRows + 1) : y;
    int32_t count = std::min(kBlockRows, FHeight - first);
    // The last row of the block is read only as far as the image reaches.
    int64_t bytes = (count - 1) * raw_canvas::kRowBytes + static_cast<int64_t>(FWidth) * 3;
    FBlock.resize(static_cast<size_t>(bytes));
    FCanvas.SetPosition(raw_canvas::PixelOffset(0, first));
    FCanvas.ReadBuffer(FBlock.data(), static_cast<int32_t>(bytes));
    FBlockFirst = first;
    FBlockCount = count;
  }
  FLastRow = y;
  std::memcpy(bgr, FBlock.data() + (y - FBlockFirst) * raw_canvas::kRowBytes, static_cast<size_t>(FWidth) * 3);
}

void TRawCanvasRowSink::Start(int32_t width, int32_t height) {
  if (FX0 < 0 || FY0 < 0 || width < 0 || height < 0 || FX0 > raw_canvas::kSide - width ||
      FY0 > raw_canvas::kSide - height)
    throw EArgumentOutOfRangeException(L"Image does not fit the 16000 x 16000 canvas");
  FWidth = width;
  FHeight = height;
}

void TRawCanvasRowSink::WriteRow(int32_t y, const uint8_t* bgr) {
  if (y < 0 || y >= FHeight) throw EArgumentOutOfRangeException();
  FCanvas.SetPosition(raw_canvas::PixelOffset(FX0, FY0 + y));
  FCanvas.WriteBuffer(bgr, FWidth * 3);
}
