#pragma once
// 24-bit pixels in memory, rows top first, each pixel blue, green, red (the
// byte order of a Windows bitmap row), rows packed without padding.
#include <cstdint>
#include <vector>

class TBitmap24 {
 public:
  TBitmap24() = default;
  // Filled white.
  TBitmap24(int32_t width, int32_t height);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  size_t RowBytes() const { return static_cast<size_t>(FWidth) * 3; }
  uint8_t* Row(int32_t y) { return FPixels.data() + static_cast<size_t>(y) * RowBytes(); }
  const uint8_t* Row(int32_t y) const { return FPixels.data() + static_cast<size_t>(y) * RowBytes(); }

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::vector<uint8_t> FPixels;
};

// Where an encoder takes its rows from: rows may be asked for in any order,
// one at a time, so the whole image never needs to be in memory.
class TImageRowSource {
 public:
  virtual ~TImageRowSource() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Fills Width() * 3 bytes, blue-green-red.
  virtual void ReadRow(int32_t y, uint8_t* bgr) = 0;
};

class TBitmapRowSource : public TImageRowSource {
 public:
  explicit TBitmapRowSource(const TBitmap24& bitmap) : FBitmap(bitmap) {}
  int32_t Width() const override { return FBitmap.Width(); }
  int32_t Height() const override { return FBitmap.Height(); }
  void ReadRow(int32_t y, uint8_t* bgr) override;

 private:
  const TBitmap24& FBitmap;
};

// Where a decoder puts its rows: Start once with the size, then every row
// once, in any order, so that a whole image need not be held in memory.
class TImageRowSink {
 public:
  virtual ~TImageRowSink() = default;
  virtual void Start(int32_t width, int32_t height) = 0;
  // Width * 3 bytes, blue-green-red, transparency already put over white.
  virtual void WriteRow(int32_t y, const uint8_t* bgr) = 0;
};

// Collects the rows in a bitmap.
class TBitmapRowSink : public TImageRowSink {
 public:
  explicit TBitmapRowSink(TBitmap24& bitmap) : FBitmap(bitmap) {}
  void Start(int32_t width, int32_t height) override { FBitmap = TBitmap24(width, height); }
  void WriteRow(int32_t y, const uint8_t* bgr) override;

 private:
  TBitmap24& FBitmap;
};
