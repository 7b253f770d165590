// Windows bitmap files: reads 1, 4, 8, 24 and 32 bits a pixel, bottom-up and
// top-down; writes 24 bits a pixel, uncompressed, bottom-up.
#include <algorithm>
#include <cstring>
#include <vector>

#include "Graphics.h"

namespace {
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i)); }

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

[[noreturn]] void Bad(const std::wstring& what) { throw EInvalidGraphic(L"Invalid bitmap: " + what); }

// A channel given by a bit mask, scaled to 8 bits.
struct TMaskChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  explicit TMaskChannel(uint32_t mask) : Mask(mask) {
    if (!mask) return;
    while (!((mask >> Shift) & 1)) ++Shift;
    while (Shift + Bits < 32 && ((mask >> (Shift + Bits)) & 1)) ++Bits;
  }
  uint8_t Of(uint32_t pixel) const {
    if (!Bits) return 0;
    uint32_t v = (pixel & Mask) >> Shift;
    uint32_t max = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1);
    return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + max / 2) / max);
  }
};
}  // namespace

void TBitmapImage::Decode(TStream& Stream, TImageRowSink& Sink) {
  int64_t start = Stream.GetPosition();
  int64_t available = Stream.GetSize() - start;
  uint8_t head[kFileHeaderSize + 4];
  if (available < static_cast<int64_t>(sizeof head)) Bad(L"file too short");
  Stream.ReadBuffer(head, sizeof head);
  if (head[0] != 'B' || head[1] != 'M') Bad(L"no BM signature");
  uint32_t dataOffset = Get32(head + 10);
  uint32_t infoSize = Get32(head + 14);
  if (infoSize < kInfoHeaderSize || infoSize > 1024) Bad(L"unsupported header size");
  if (available < kFileHeaderSize + static_cast<int64_t>(infoSize)) Bad(L"header cut short");
  std::vector<uint8_t> info(std::max<uint32_t>(infoSize, 56), 0);
  std::memcpy(info.data(), head + kFileHeaderSize, 4);
  Stream.ReadBuffer(info.data() + 4, static_cast<int32_t>(infoSize - 4));
  int32_t width = static_cast<int32_t>(Get32(info.data() + 4));
  int32_t rawHeight = static_cast<int32_t>(Get32(info.data() + 8));
  uint16_t bits = Get16(info.data() + 14);
  uint32_t compression = Get32(info.data() + 16);
  uint32_t colorsUsed = Get32(info.data() + 32);
  bool topDown = rawHeight < 0;
  if (rawHeight == INT32_MIN) Bad(L"bad height");
  int32_t height = topDown ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0) Bad(L"empty or negative size");
  if (width > kMaxImageSide || height > kMaxImageSide) throw EInvalidGraphic(L"Image is too large");

  std::vector<uint8_t> palette;  // blue, green, red, reserved
  uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  switch (bits) {
    case 1:
    case 4:
    case 8: {
      if (compression != kBiRgb) Bad(L"compressed bitmaps are not supported");
      uint32_t entries = colorsUsed ? colorsUsed : (1u << bits);
      if (entries > (1u << bits)) Bad(L"palette too large");
      int64_t paletteStart = start + kFileHeaderSize + infoSize;
      if (paletteStart + entries * 4 > start + available) Bad(L"palette cut short");
      palette.assign(static_cast<size_t>(1u << bits) * 4, 0);
      Stream.SetPosition(paletteStart);
      Stream.ReadBuffer(palette.data(), static_cast<int32_t>(entries * 4));
      break;
    }
    case 24:
      if (compression != kBiRgb) Bad(L"unsupported compression");
      break;
    case 32:
      if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
        if (infoSize >= 52) {
          for (int i = 0; i < 3; ++i) masks[i] = Get32(info.data() + 40 + 4 * i);
        } else {
          // The three masks follow a 40-byte header.
          uint8_t m[12];
          if (kFileHeaderSize + infoSize + 12 > available) Bad(L"masks cut short");
          Stream.ReadBuffer(m, 12);
          for (int i = 0; i < 3; ++i) masks[i] = Get32(m + 4 * i);
        }
      } else if (compression != kBiRgb) {
        Bad(L"unsupported compression");
      }
      break;
    default: Bad(L"unsupported bit depth " + std::to_wstring(bits));
  }
  TMaskChannel red(masks[0]), green(masks[1]), blue(masks[2]);

  size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (static_cast<int64_t>(dataOffset) + static_cast<int64_t>(stride) * height > available)
    Bad(L"pixel data cut short");
  Sink.Start(width, height);
  std::vector<uint8_t> line(stride), row(static_cast<size_t>(width) * 3);
  Stream.SetPosition(start + dataOffset);
  for (int32_t fileRow = 0; fileRow < height; ++fileRow) {
    Stream.ReadBuffer(line.data(), static_cast<int32_t>(stride));
    uint8_t* out = row.data();
    for (int32_t x = 0; x < width; ++x, out += 3) {
      if (bits <= 8) {
        size_t bitPos = static_cast<size_t>(x) * bits;
        unsigned index = (line[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
        std::memcpy(out, palette.data() + index * 4, 3);
      } else if (bits == 24) {
        std::memcpy(out, line.data() + static_cast<size_t>(x) * 3, 3);
      } else {
        uint32_t pixel = Get32(line.data() + static_cast<size_t>(x) * 4);
        out[0] = blue.Of(pixel);
        out[1] = green.Of(pixel);
        out[2] = red.Of(pixel);
      }
    }
    Sink.WriteRow(topDown ? fileRow : height - 1 - fileRow, row.data());
  }
}

void TBitmapImage::Encode(TImageRowSource& Rows, TStream& Stream) {
  int32_t width = Rows.Width(), height = Rows.Height();
  size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
  uint64_t imageSize = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  uint64_t fileSize = kFileHeaderSize + kInfoHeaderSize + imageSize;
  if (fileSize > 0xFFFFFFFFu) throw EInvalidGraphic(L"Image too large for a bitmap file");
  uint8_t head[kFileHeaderSize + kInfoHeaderSize] = {};
  head[0] = 'B';
  head[1] = 'M';
  Put32(head + 2, static_cast<uint32_t>(fileSize));
  Put32(head + 10, kFileHeaderSize + kInfoHeaderSize);
  uint8_t* info = head + kFileHeaderSize;
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, static_cast<uint32_t>(width));
  Put32(info + 8, static_cast<uint32_t>(height));
  Put16(info + 12, 1);
  Put16(info + 14, 24);
  Put32(info + 16, kBiRgb);
  Put32(info + 20, static_cast<uint32_t>(imageSize));
  Stream.WriteBuffer(head, sizeof head);
  std::vector<uint8_t> line(stride, 0);
  for (int32_t y = height - 1; y >= 0; --y) {
    Rows.ReadRow(y, line.data());
    Stream.WriteBuffer(line.data(), static_cast<int32_t>(stride));
  }
}
