#include <gtest/gtest.h>

#include <zlib.h>

#include "ArchiveTestSupport.h"
#include "images/Graphics.h"
#include "images/RawCanvas.h"
#include "ParallelDeflate.h"

namespace {
TBitmap24 Noise(int32_t w, int32_t h, uint32_t seed) {
  TBitmap24 b(w, h);
  auto bytes = Pattern(b.RowBytes() * static_cast<size_t>(h), seed);
  for (int32_t y = 0; y < h; ++y) std::copy_n(bytes.data() + b.RowBytes() * y, b.RowBytes(), b.Row(y));
  return b;
}

std::vector<uint8_t> Save(const TGraphicClass& kind, const TBitmap24& bitmap) {
  auto image = kind.Create();
  image->Assign(bitmap);
  TMemoryStream out;
  image->SaveToStream(out);
  return {out.Memory(), out.Memory() + out.GetSize()};
}

std::unique_ptr<TBitmap24> Load(const TGraphicClass& kind, const std::vector<uint8_t>& bytes) {
  TMemoryStream in;
  Fill(in, bytes);
  auto image = kind.Create();
  image->LoadFromStream(in);
  return GraphicToBitmap(*image);
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}
}  // namespace

TEST(Graphics, FormatNamesSelectTheirKind) {
  struct Case {
    const wchar_t* format;
    const TGraphicClass* kind;
  } cases[] = {{L"bmp", &kBitmapGraphicClass}, {L"jpg", &kJPEGGraphicClass}, {L"jpeg", &kJPEGGraphicClass},
               {L"png", &kPngGraphicClass},    {L"gif", nullptr},            {L"", nullptr}};
  for (const Case& c : cases) EXPECT_EQ(GraphicClassForFormat(c.format), c.kind) << c.format;
}

TEST(Graphics, LosslessKindsRoundTripExactly) {
  // An odd width exercises row padding and the left neighbour of the first pixel.
  TBitmap24 original = Noise(37, 23, 5);
  for (const TGraphicClass* kind : {&kBitmapGraphicClass, &kPngGraphicClass}) {
    auto back = Load(*kind, Save(*kind, original));
    ASSERT_EQ(back->Width(), 37);
    ASSERT_EQ(back->Height(), 23);
    for (int32_t y = 0; y < 23; ++y)
      ASSERT_TRUE(std::equal(original.Row(y), original.Row(y) + original.RowBytes(), back->Row(y))) << kind->Extension;
  }
}

TEST(Graphics, JpegRoundTripIsClose) {
  TBitmap24 flat(64, 48);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      uint8_t* p = flat.Row(y) + x * 3;
      p[0] = 40, p[1] = 120, p[2] = 200;  // blue, green, red
    }
  auto bytes = Save(kJPEGGraphicClass, flat);
  auto back = Load(kJPEGGraphicClass, bytes);
  ASSERT_EQ(back->Width(), 64);
  const uint8_t* p = back->Row(20) + 30 * 3;
  EXPECT_NEAR(p[0], 40, 3);
  EXPECT_NEAR(p[1], 120, 3);
  EXPECT_NEAR(p[2], 200, 3);
}

// Noise does not compress, so the image data needs several IDAT chunks.
TEST(Graphics, PngHasOnlyIhdrIdatIendWithBoundedIdat) {
  auto bytes = Save(kPngGraphicClass, Noise(300, 200, 9));
  std::vector<std::string> types;
  std::vector<uint8_t> zdata;
  for (size_t at = 8; at < bytes.size();) {
    uint32_t length = Be32(bytes, at);
    std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
    EXPECT_EQ(Be32(bytes, at + 8 + length),
              static_cast<uint32_t>(crc32(0, bytes.data() + at + 4, length + 4)));
    if (type == "IDAT") {
      EXPECT_LE(length, 65535u);
      zdata.insert(zdata.end(), bytes.begin() + at + 8, bytes.begin() + at + 8 + length);
    }
    if (types.empty() || types.back() != type) types.push_back(type);
    at += 12 + length;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(bytes[8 + 8 + 8], 8);  // bit depth
  EXPECT_EQ(bytes[8 + 8 + 9], 2);  // RGB
  EXPECT_EQ(zdata[0], 0x78);
  EXPECT_EQ(zdata[1] >> 6, 3);  // zlib marks levels above 6 with 3
  std::vector<uint8_t> raw(200 * (300 * 3 + 1));
  uLongf size = static_cast<uLongf>(raw.size());
  ASSERT_EQ(uncompress(raw.data(), &size, zdata.data(), static_cast<uLong>(zdata.size())), Z_OK);
  ASSERT_EQ(size, raw.size());
  for (size_t row = 0; row < 200; ++row) EXPECT_EQ(raw[row * 901], 1) << row;
}

TEST(Graphics, CanvasRowsEncodeLikeTheSameBitmap) {
  // Rows are found at y * 48000; 40 rows span several read blocks, forward
  // (PNG, JPEG) and backward (BMP).
  const int32_t w = 50, h = 40;
  TBitmap24 image = Noise(w, h, 3);
  TMemoryStream canvas;
  canvas.SetSize(raw_canvas::kRowBytes * (h - 1) + w * 3);
  for (int32_t y = 0; y < h; ++y) {
    canvas.SetPosition(raw_canvas::PixelOffset(0, y));
    canvas.WriteBuffer(image.Row(y), static_cast<int32_t>(image.RowBytes()));
  }
  for (const TGraphicClass* kind : {&kBitmapGraphicClass, &kJPEGGraphicClass, &kPngGraphicClass}) {
    auto fromCanvas = kind->Create();
    fromCanvas->Assign(std::make_unique<TRawCanvasRowSource>(canvas, w, h));
    TMemoryStream out;
    fromCanvas->SaveToStream(out);
    EXPECT_EQ(std::vector<uint8_t>(out.Memory(), out.Memory() + out.GetSize()), Save(*kind, image))
        << kind->Extension;
  }
}

TEST(Graphics, BadInputGivesACodecError) {
  auto png = Save(kPngGraphicClass, Noise(20, 20, 1));
  auto jpg = Save(kJPEGGraphicClass, Noise(20, 20, 1));
  auto bmp = Save(kBitmapGraphicClass, Noise(20, 20, 1));
  auto cut = [](std::vector<uint8_t> b, size_t keep) { b.resize(keep); return b; };
  auto huge = [](std::vector<uint8_t> b, size_t at, bool bigEndian) {
    uint32_t v = 100000;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (bigEndian ? 3 - i : i)));
    return b;
  };
  struct Case {
    const char* what;
    const TGraphicClass* kind;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty png", &kPngGraphicClass, {}},
      {"empty jpeg", &kJPEGGraphicClass, {}},
      {"empty bmp", &kBitmapGraphicClass, {}},
      {"cut png", &kPngGraphicClass, cut(png, png.size() / 2)},
      {"cut jpeg", &kJPEGGraphicClass, cut(jpg, jpg.size() / 2)},
      {"cut bmp", &kBitmapGraphicClass, cut(bmp, bmp.size() - 1)},
      {"png of another kind", &kPngGraphicClass, jpg},
      {"huge png", &kPngGraphicClass, huge(png, 16, true)},
      {"huge bmp", &kBitmapGraphicClass, huge(bmp, 18, false)},
  };
  for (const Case& c : cases) EXPECT_THROW(Load(*c.kind, c.bytes), EInvalidGraphic) << c.what;
}

// Pieces go straight into the canvas at their place; a piece that would
// reach beyond the canvas is refused before anything is written.
TEST(Graphics, PiecesDecodeStraightIntoTheCanvas) {
  TBitmap24 piece = Noise(30, 6, 4);
  for (const TGraphicClass* kind : {&kBitmapGraphicClass, &kPngGraphicClass}) {
    auto encoded = Save(*kind, piece);
    TMemoryStream canvas;
    {
      TMemoryStream in;
      Fill(in, encoded);
      TRawCanvasRowSink sink(canvas, 4000, 2);
      kind->Create()->DecodeInto(in, sink);
      EXPECT_EQ(sink.Width(), 30);
      EXPECT_EQ(sink.Height(), 6);
    }
    for (int32_t y = 0; y < 6; ++y) {
      std::vector<uint8_t> row(90);
      canvas.SetPosition(raw_canvas::PixelOffset(4000, 2 + y));
      canvas.ReadBuffer(row.data(), 90);
      EXPECT_TRUE(std::equal(row.begin(), row.end(), piece.Row(y))) << kind->Extension << " row " << y;
    }
    TMemoryStream in, untouched;
    Fill(in, encoded);
    TRawCanvasRowSink outside(untouched, raw_canvas::kSide - 29, 0);
    EXPECT_THROW(kind->Create()->DecodeInto(in, outside), EArgumentOutOfRangeException);
    EXPECT_EQ(untouched.GetSize(), 0);
  }
}

namespace {
// The PNG's zlib stream: every IDAT's data, in order.
std::vector<uint8_t> IdatStream(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> z;
  for (size_t at = 8; at + 12 <= png.size();) {
    uint32_t length = Be32(png, at);
    if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT")
      z.insert(z.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
    at += 12 + length;
  }
  return z;
}

// What the encoder must deflate: each row as filter byte 1 (Sub) and the
// red-green-blue bytes minus those of the pixel to the left.
std::vector<uint8_t> SubFiltered(const TBitmap24& image) {
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < image.Height(); ++y) {
    out.push_back(1);
    const uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x)
      for (int c = 0; c < 3; ++c) {
        uint8_t value = row[x * 3 + 2 - c];
        uint8_t left = x ? row[(x - 1) * 3 + 2 - c] : 0;
        out.push_back(static_cast<uint8_t>(value - left));
      }
  }
  return out;
}

// Smooth bands with grain: compressible like a map, not like noise.
TBitmap24 Grainy(int32_t w, int32_t h, uint32_t seed) {
  TBitmap24 b(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      uint8_t* p = b.Row(y) + x * 3;
      p[0] = static_cast<uint8_t>(x / 7 + ((seed >> 16) & 7));
      p[1] = static_cast<uint8_t>(y / 5 + ((seed >> 20) & 3));
      p[2] = static_cast<uint8_t>((x ^ y) >> 3);
    }
  return b;
}
}  // namespace

// The image data is deflated in blocks of TParallelDeflate::kDefaultBlockSize
// on several threads: whatever the size against the blocks, the result is one
// zlib stream at level 7 with the right Adler-32 that libpng reads back.
TEST(Graphics, PngOfAnySizeAgainstTheDeflateBlocksReadsBack) {
  // A filtered row of 341 pixels is 1024 bytes, so 1024 rows are one block.
  static_assert(TParallelDeflate::kDefaultBlockSize == 1024 * 1024);
  struct Case {
    const char* what;
    int32_t w, h;
  } cases[] = {{"one pixel", 1, 1},
               {"one row", 5000, 1},
               {"exactly one block", 341, 1024},
               {"exactly three blocks", 341, 3072},
               {"several blocks and a part", 1000, 1300}};
  for (const Case& c : cases) {
    TBitmap24 image = Grainy(c.w, c.h, 11);
    auto png = Save(kPngGraphicClass, image);
    auto back = Load(kPngGraphicClass, png);
    ASSERT_EQ(back->Width(), c.w) << c.what;
    ASSERT_EQ(back->Height(), c.h) << c.what;
    for (int32_t y = 0; y < c.h; ++y)
      ASSERT_TRUE(std::equal(image.Row(y), image.Row(y) + image.RowBytes(), back->Row(y))) << c.what << " row " << y;

    auto z = IdatStream(png);
    auto filtered = SubFiltered(image);
    ASSERT_GE(z.size(), 6u) << c.what;
    EXPECT_EQ(z[0], 0x78) << c.what;
    EXPECT_EQ(z[1], 0xDA) << c.what;  // level 7
    uint32_t adler = static_cast<uint32_t>(adler32(1, filtered.data(), static_cast<uInt>(filtered.size())));
    EXPECT_EQ(Be32(z, z.size() - 4), adler) << c.what;
    std::vector<uint8_t> raw(filtered.size() + 1);
    uLongf size = static_cast<uLongf>(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &size, z.data(), static_cast<uLong>(z.size())), Z_OK) << c.what;
    raw.resize(size);
    EXPECT_TRUE(raw == filtered) << c.what;
  }
}
