#include "Bitmap24.h"

#include <cstring>

TBitmap24::TBitmap24(int32_t width, int32_t height)
    : FWidth(width), FHeight(height), FPixels(static_cast<size_t>(width) * 3 * static_cast<size_t>(height), 0xFF) {}

void TBitmapRowSource::ReadRow(int32_t y, uint8_t* bgr) { std::memcpy(bgr, FBitmap.Row(y), FBitmap.RowBytes()); }

void TBitmapRowSink::WriteRow(int32_t y, const uint8_t* bgr) { std::memcpy(FBitmap.Row(y), bgr, FBitmap.RowBytes()); }
