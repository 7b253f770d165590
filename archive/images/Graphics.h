#pragma once
// Image codec kinds: an image of one format loads itself from a stream,
// reports its size, draws into a 24-bit bitmap, takes over rows of pixels and
// saves itself to a stream. Kinds: bitmap ("bmp"), JPEG ("jpg"), PNG ("png").
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap24.h"
#include "Exceptions.h"
#include "Streams.h"

// A file a decoder cannot read, or an image an encoder cannot write.
DECLARE_EXCEPTION_CLASS(EInvalidGraphic, Exception);

// Larger images are refused before any pixel memory is taken.
constexpr int32_t kMaxImageSide = 16000;

class TGraphic {
 public:
  virtual ~TGraphic() = default;
  // Decodes the whole stream from its current position.
  void LoadFromStream(TStream& Stream);
  // Decodes the stream straight into Sink, row by row; the image keeps
  // nothing (interlaced PNG files alone are held whole while decoding).
  void DecodeInto(TStream& Stream, TImageRowSink& Sink) { Decode(Stream, Sink); }
  int32_t Width() const;
  int32_t Height() const;
  // Draws at (0, 0); transparent pixels have already been put over white.
  void Draw(TBitmap24& Target) const;
  // Takes over the pixels to save; the source must outlive SaveToStream.
  // Rows are read one at a time while saving.
  void Assign(std::unique_ptr<TImageRowSource> Rows);
  void Assign(const TBitmap24& Bitmap);
  void SaveToStream(TStream& Stream);
  virtual const wchar_t* Extension() const = 0;

 protected:
  virtual void Decode(TStream& Stream, TImageRowSink& Sink) = 0;
  virtual void Encode(TImageRowSource& Rows, TStream& Stream) = 0;

 private:
  TBitmap24 FDecoded;
  std::unique_ptr<TImageRowSource> FRows;
};

class TBitmapImage : public TGraphic {
 public:
  const wchar_t* Extension() const override { return L"bmp"; }

 protected:
  void Decode(TStream& Stream, TImageRowSink& Sink) override;
  void Encode(TImageRowSource& Rows, TStream& Stream) override;
};

class TJPEGImage : public TGraphic {
 public:
  const wchar_t* Extension() const override { return L"jpg"; }

 protected:
  void Decode(TStream& Stream, TImageRowSink& Sink) override;
  void Encode(TImageRowSource& Rows, TStream& Stream) override;
};

class TPngImage : public TGraphic {
 public:
  const wchar_t* Extension() const override { return L"png"; }

 protected:
  void Decode(TStream& Stream, TImageRowSink& Sink) override;
  void Encode(TImageRowSource& Rows, TStream& Stream) override;
};

// A codec kind: makes empty images of its format.
struct TGraphicClass {
  const wchar_t* Extension;
  std::unique_ptr<TGraphic> (*Create)();
};
extern const TGraphicClass kBitmapGraphicClass;
extern const TGraphicClass kJPEGGraphicClass;
extern const TGraphicClass kPngGraphicClass;

// "bmp", "jpg"/"jpeg", "png" (lower-case); anything else gives null.
const TGraphicClass* GraphicClassForFormat(const std::wstring& Format);
// A new white 24-bit bitmap of the image's size with the image drawn on it.
std::unique_ptr<TBitmap24> GraphicToBitmap(const TGraphic& Image);
