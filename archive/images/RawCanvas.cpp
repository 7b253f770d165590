#include "RawCanvas.h"

#include "Exceptions.h"

TRawCanvasRowSource::TRawCanvasRowSource(TStream& canvas, int32_t width, int32_t height)
    : FCanvas(canvas), FWidth(width), FHeight(height) {
  if (width < 0 || height < 0 || width > raw_canvas::kSide || height > raw_canvas::kSide)
    throw EArgumentOutOfRangeException();
}

void TRawCanvasRowSource::ReadRow(int32_t y, uint8_t* bgr) {
  FCanvas.SetPosition(raw_canvas::PixelOffset(0, y));
  FCanvas.ReadBuffer(bgr, FWidth * 3);
}
