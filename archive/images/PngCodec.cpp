// PNG: decoding through libpng (every colour type, palettes with
// transparency, 16 bits, interlacing; transparency put over white); encoding
// of 8-bit RGB with only IHDR, IDAT and IEND, filter "Sub" on every row, zlib
// level 7, IDAT chunks of at most 65,535 data bytes, one row at a time, the
// zlib stream deflated in blocks on every core.
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "Graphics.h"
#include "ParallelDeflate.h"

namespace {
// libpng reports failures by longjmp to the setjmp of the running step; no
// C++ object with a destructor lives in the frames it jumps over.
struct TPngDecoder {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TStream* Stream = nullptr;
  std::exception_ptr Pending;
  std::string Message;
  std::vector<uint8_t> Rgba;  // interlaced images: the whole image, else one row
  std::vector<uint8_t> Bgr;   // one finished row
  ~TPngDecoder() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

void OnError(png_structp png, png_const_charp message) {
  auto* d = static_cast<TPngDecoder*>(png_get_error_ptr(png));
  if (d->Message.empty()) d->Message = message;
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

bool ReadFromStream(TPngDecoder* d, png_bytep data, size_t length) {
  try {
    while (length > 0) {
      int32_t chunk = length > 0x10000000 ? 0x10000000 : static_cast<int32_t>(length);
      int32_t n = d->Stream->Read(data, chunk);
      if (n <= 0) {
        d->Message = "data ends early";
        return false;
      }
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  } catch (...) {
    d->Pending = std::current_exception();
    return false;
  }
}
void OnRead(png_structp png, png_bytep data, size_t length) {
  if (!ReadFromStream(static_cast<TPngDecoder*>(png_get_io_ptr(png)), data, length)) png_error(png, "read failed");
}

[[noreturn]] void RaisePng(TPngDecoder& d) {
  if (d.Pending) std::rethrow_exception(d.Pending);
  throw EInvalidGraphic(L"PNG error: " + std::wstring(d.Message.begin(), d.Message.end()));
}

// After these transforms every row is blue, green, red, alpha, 8 bits each.
bool ReadHeader(TPngDecoder& d, png_uint_32& width, png_uint_32& height, bool& interlaced) {
  if (setjmp(png_jmpbuf(d.Png))) return false;
  png_set_user_limits(d.Png, kMaxImageSide, kMaxImageSide);
  png_read_info(d.Png, d.Info);
  width = png_get_image_width(d.Png, d.Info);
  height = png_get_image_height(d.Png, d.Info);
  interlaced = png_get_interlace_type(d.Png, d.Info) != PNG_INTERLACE_NONE;
  png_set_expand(d.Png);
  png_set_scale_16(d.Png);
  png_set_gray_to_rgb(d.Png);
  png_set_bgr(d.Png);
  png_set_add_alpha(d.Png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(d.Png);
  png_read_update_info(d.Png, d.Info);
  if (png_get_rowbytes(d.Png, d.Info) != static_cast<size_t>(width) * 4) png_error(d.Png, "unexpected row layout");
  return true;
}

inline uint8_t OverWhite(uint8_t c, uint8_t a) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); }

void BlendRow(const uint8_t* bgra, uint8_t* bgr, png_uint_32 width) {
  for (png_uint_32 x = 0; x < width; ++x, bgra += 4, bgr += 3) {
    uint8_t a = bgra[3];
    bgr[0] = OverWhite(bgra[0], a);
    bgr[1] = OverWhite(bgra[1], a);
    bgr[2] = OverWhite(bgra[2], a);
  }
}

// Interlaced images need every pass before any row is final.
bool ReadAllPasses(TPngDecoder& d, png_uint_32 height) {
  if (setjmp(png_jmpbuf(d.Png))) return false;
  size_t rowBytes = png_get_rowbytes(d.Png, d.Info);
  int passes = png_set_interlace_handling(d.Png);
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(d.Png, d.Rgba.data() + rowBytes * y, nullptr);
  return true;
}

bool ReadOneRow(TPngDecoder& d) {
  if (setjmp(png_jmpbuf(d.Png))) return false;
  png_read_row(d.Png, d.Rgba.data(), nullptr);
  return true;
}

bool ReadEnd(TPngDecoder& d) {
  if (setjmp(png_jmpbuf(d.Png))) return false;
  png_read_end(d.Png, nullptr);
  return true;
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void WriteChunk(TStream& stream, const char* type, const uint8_t* data, uint32_t length) {
  uint8_t head[8];
  PutBE32(head, length);
  std::memcpy(head + 4, type, 4);
  uint32_t crc = static_cast<uint32_t>(crc32(0, head + 4, 4));
  if (length) crc = static_cast<uint32_t>(crc32(crc, data, length));
  uint8_t tail[4];
  PutBE32(tail, crc);
  stream.WriteBuffer(head, 8);
  if (length) stream.WriteBuffer(data, static_cast<int32_t>(length));
  stream.WriteBuffer(tail, 4);
}

constexpr uint32_t kMaxIdatData = 65535;

// The zlib stream goes into IDAT chunks of exactly kMaxIdatData bytes; the
// last one takes the rest.
class TIdatWriter {
 public:
  explicit TIdatWriter(TStream& stream) : FStream(stream), FChunk(kMaxIdatData) {}
  void Write(const uint8_t* data, size_t length) {
    while (length > 0) {
      size_t take = std::min<size_t>(length, kMaxIdatData - FUsed);
      std::memcpy(FChunk.data() + FUsed, data, take);
      FUsed += static_cast<uint32_t>(take);
      data += take;
      length -= take;
      if (FUsed == kMaxIdatData) Flush();
    }
  }
  void Flush() {
    if (FUsed) WriteChunk(FStream, "IDAT", FChunk.data(), FUsed);
    FUsed = 0;
  }

 private:
  TStream& FStream;
  std::vector<uint8_t> FChunk;
  uint32_t FUsed = 0;
};
}  // namespace

void TPngImage::Decode(TStream& Stream, TImageRowSink& Sink) {
  auto d = std::make_unique<TPngDecoder>();
  d->Stream = &Stream;
  d->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d.get(), OnError, OnWarning);
  if (!d->Png) throw EInvalidGraphic(L"Cannot start the PNG decoder");
  d->Info = png_create_info_struct(d->Png);
  if (!d->Info) throw EInvalidGraphic(L"Cannot start the PNG decoder");
  png_set_read_fn(d->Png, d.get(), OnRead);
  png_uint_32 width = 0, height = 0;
  bool interlaced = false;
  if (!ReadHeader(*d, width, height, interlaced)) RaisePng(*d);
  Sink.Start(static_cast<int32_t>(width), static_cast<int32_t>(height));
  size_t rowBytes = static_cast<size_t>(width) * 4;
  d->Rgba.assign(rowBytes * (interlaced ? height : 1), 0);
  d->Bgr.assign(static_cast<size_t>(width) * 3, 0);
  if (interlaced && !ReadAllPasses(*d, height)) RaisePng(*d);
  for (png_uint_32 y = 0; y < height; ++y) {
    if (!interlaced && !ReadOneRow(*d)) RaisePng(*d);
    BlendRow(d->Rgba.data() + (interlaced ? rowBytes * y : 0), d->Bgr.data(), width);
    Sink.WriteRow(static_cast<int32_t>(y), d->Bgr.data());
  }
  if (!ReadEnd(*d)) RaisePng(*d);
}

void TPngImage::Encode(TImageRowSource& Rows, TStream& Stream) {
  int32_t width = Rows.Width(), height = Rows.Height();
  if (width <= 0 || height <= 0) throw EInvalidGraphic(L"Cannot save an empty PNG image");
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Stream.WriteBuffer(kSignature, sizeof kSignature);
  uint8_t ihdr[13];
  PutBE32(ihdr, static_cast<uint32_t>(width));
  PutBE32(ihdr + 4, static_cast<uint32_t>(height));
  ihdr[8] = 8;   // bits per sample
  ihdr[9] = 2;   // RGB
  ihdr[10] = 0;  // deflate
  ihdr[11] = 0;  // adaptive filtering
  ihdr[12] = 0;  // not interlaced
  WriteChunk(Stream, "IHDR", ihdr, sizeof ihdr);

  size_t rowBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> bgr(rowBytes);
  std::vector<uint8_t> filtered(rowBytes + 1);
  TIdatWriter idat(Stream);
  // Deflating is nearly all of the work: it runs on every core.
  TParallelDeflate deflate(7, TParallelDeflate::TFraming::Zlib,
                           [&idat](const uint8_t* data, size_t length) { idat.Write(data, length); });
  for (int32_t y = 0; y < height; ++y) {
    Rows.ReadRow(y, bgr.data());
    filtered[0] = 1;  // Sub: each byte minus the same byte of the pixel to its left
    uint8_t left[3] = {0, 0, 0};
    uint8_t* out = filtered.data() + 1;
    for (size_t i = 0; i < rowBytes; i += 3) {
      uint8_t r = bgr[i + 2], g = bgr[i + 1], b = bgr[i];
      out[i] = static_cast<uint8_t>(r - left[0]);
      out[i + 1] = static_cast<uint8_t>(g - left[1]);
      out[i + 2] = static_cast<uint8_t>(b - left[2]);
      left[0] = r;
      left[1] = g;
      left[2] = b;
    }
    deflate.Write(filtered.data(), filtered.size());
  }
  deflate.Finish();
  idat.Flush();
  WriteChunk(Stream, "IEND", nullptr, 0);
}
