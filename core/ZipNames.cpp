#include "ZipNames.h"

#include "PathCompare.h"

namespace zip {
namespace {
// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendUtf16(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}
}  // namespace

std::vector<uint8_t> EncodeUtf8(const std::wstring& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(text[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<uint8_t>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<uint8_t>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<uint8_t>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<uint8_t>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::wstring DecodeUtf8(const std::vector<uint8_t>& bytes) {
  std::wstring out;
  size_t i = 0;
  while (i < bytes.size()) {
    uint8_t b = bytes[i];
    size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
    bool ok = extra < 4 && i + extra < bytes.size();
    uint32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (size_t k = 1; ok && k <= extra; ++k) {
      uint8_t c = bytes[i + k];
      if ((c & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      // A malformed sequence stands for one replacement character.
      out += L'\uFFFD';
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

bool IsValidUtf8(const std::vector<uint8_t>& bytes) {
  return DecodeUtf8(bytes).find(L'\uFFFD') == std::wstring::npos;
}

std::vector<uint8_t> EncodeCp437(const std::wstring& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size());
  for (wchar_t ch : text) {
    auto c = static_cast<char16_t>(ch);
    if (c < 0x80) {
      out.push_back(static_cast<uint8_t>(c));
      continue;
    }
    uint8_t mapped = '?';
    for (int k = 0; k < 128; ++k)
      if (kCp437High[k] == c) {
        mapped = static_cast<uint8_t>(0x80 + k);
        break;
      }
    out.push_back(mapped);
  }
  return out;
}

std::wstring DecodeCp437(const std::vector<uint8_t>& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) out += b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(kCp437High[b - 0x80]);
  return out;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && ComparePathsNoCase(a, b) == 0;
}
}  // namespace zip
