#pragma once
// The raw canvas: 16000 by 16000 pixels of 3 bytes (blue, green, red) in a
// stream, rows top first, 48000 bytes a row; an image occupies its top-left
// corner.
#include <cstdint>
#include <vector>

#include "Bitmap24.h"
#include "Streams.h"

namespace raw_canvas {
constexpr int32_t kSide = 16000;
constexpr int64_t kRowBytes = static_cast<int64_t>(kSide) * 3;
constexpr int64_t kSize = kRowBytes * kSide;
inline int64_t PixelOffset(int32_t x, int32_t y) { return (static_cast<int64_t>(y) * kSide + x) * 3; }
}  // namespace raw_canvas

// The image of width by height in the canvas's corner. Rows are read a block
// of whole canvas rows at a time (forward or backward, following the reader).
class TRawCanvasRowSource : public TImageRowSource {
 public:
  // Raises EArgumentOutOfRangeException when the image does not fit the canvas.
  TRawCanvasRowSource(TStream& canvas, int32_t width, int32_t height);
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  void ReadRow(int32_t y, uint8_t* bgr) override;

 private:
  static constexpr int32_t kBlockRows = 16;
  TStream& FCanvas;
  int32_t FWidth;
  int32_t FHeight;
  std::vector<uint8_t> FBlock;
  int32_t FBlockFirst = 0;
  int32_t FBlockCount = 0;
  int32_t FLastRow = -1;
};

// Writes an image's rows into the canvas with its top-left corner at (x0, y0),
// one positioned write per row.
class TRawCanvasRowSink : public TImageRowSink {
 public:
  TRawCanvasRowSink(TStream& canvas, int32_t x0, int32_t y0) : FCanvas(canvas), FX0(x0), FY0(y0) {}
  // Raises EArgumentOutOfRangeException when the image would reach beyond the canvas.
  void Start(int32_t width, int32_t height) override;
  void WriteRow(int32_t y, const uint8_t* bgr) override;
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }

 private:
  TStream& FCanvas;
  int32_t FX0, FY0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
};
