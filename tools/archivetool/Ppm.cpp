#include "Ppm.h"

#include <cctype>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "images/Graphics.h"
#include "Streams.h"

namespace {
int ReadNumber(TStream& in) {
  char c = 0;
  // Skip blanks and comments before the number.
  for (;;) {
    in.ReadBuffer(&c, 1);
    if (c == '#') {
      while (c != '\n') in.ReadBuffer(&c, 1);
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      break;
    }
  }
  int value = 0;
  while (std::isdigit(static_cast<unsigned char>(c))) {
    value = value * 10 + (c - '0');
    in.ReadBuffer(&c, 1);  // the single blank after the last number is consumed here
  }
  return value;
}
}  // namespace

TBitmap24 ReadPpm(const std::wstring& fileName) {
  TFileStream in(fileName, fmOpenRead | fmShareDenyWrite);
  char magic[2];
  in.ReadBuffer(magic, 2);
  if (magic[0] != 'P' || magic[1] != '6') throw EInvalidGraphic(L"Not a binary PPM file");
  int width = ReadNumber(in), height = ReadNumber(in), max = ReadNumber(in);
  if (max != 255) throw EInvalidGraphic(L"Only 8-bit PPM files are read");
  TBitmap24 bitmap(width, height);
  std::vector<uint8_t> rgb(bitmap.RowBytes());
  for (int y = 0; y < height; ++y) {
    in.ReadBuffer(rgb.data(), static_cast<int32_t>(rgb.size()));
    uint8_t* out = bitmap.Row(y);
    for (size_t i = 0; i < rgb.size(); i += 3) {
      out[i] = rgb[i + 2];
      out[i + 1] = rgb[i + 1];
      out[i + 2] = rgb[i];
    }
  }
  return bitmap;
}

void WritePpm(const TBitmap24& bitmap, const std::wstring& fileName) {
  TFileStream out(fileName, fmCreate);
  std::string head = "P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n";
  out.WriteBuffer(head.data(), static_cast<int32_t>(head.size()));
  std::vector<uint8_t> rgb(bitmap.RowBytes());
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* in = bitmap.Row(y);
    for (size_t i = 0; i < rgb.size(); i += 3) {
      rgb[i] = in[i + 2];
      rgb[i + 1] = in[i + 1];
      rgb[i + 2] = in[i];
    }
    if (!rgb.empty()) out.WriteBuffer(rgb.data(), static_cast<int32_t>(rgb.size()));
  }
}
