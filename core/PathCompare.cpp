#include "PathCompare.h"

#ifdef _WIN32
#include <windows.h>

int ComparePathsNoCase(const std::wstring& a, const std::wstring& b) {
  const int result = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                          static_cast<int>(b.size()), TRUE);
  return result - CSTR_EQUAL;
}

#else

#include <algorithm>
#include <cstdint>

namespace {

// The host build stands in for CompareStringOrdinal(..., TRUE): each UTF-16
// code unit is mapped to its simple upper case, as NTFS's upcase table does,
// for the alphabets installation paths use (Latin-1, Latin Extended-A,
// Greek, Cyrillic); other units compare as they are. Like that table (as
// measured under Wine) it has no locale and leaves the letters whose upper
// case is another letter's alone: micro sign, dotless i, long s, final sigma.
uint16_t UpperUnit(uint16_t c) {
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c < 0xB5) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x0178;
  if (c >= 0x0100 && c <= 0x017F) {
    // Latin Extended-A pairs capital and small letters; the odd ones out
    // are dotless i, kra, the ŉ digraph and long s.
    if (c == 0x0130 || c == 0x0131 || c == 0x0138 || c == 0x0149 || c == 0x017F) return c;
    const bool evenCapitals = c < 0x0138 || (c > 0x0149 && c < 0x0179);
    const bool small = evenCapitals ? (c & 1) == 1 : (c & 1) == 0;
    return small ? c - 1 : c;
  }
  // Greek.
  if (c == 0x03AC) return 0x0386;
  if (c >= 0x03AD && c <= 0x03AF) return c - 0x25;
  if (c >= 0x03B1 && c <= 0x03C1) return c - 0x20;
  if (c >= 0x03C3 && c <= 0x03CB) return c - 0x20;
  if (c == 0x03CC) return 0x038C;
  if (c == 0x03CD || c == 0x03CE) return c - 0x3F;
  // Cyrillic.
  if (c >= 0x0430 && c <= 0x044F) return c - 0x20;
  if (c >= 0x0450 && c <= 0x045F) return c - 0x50;
  if (c >= 0x0460 && c <= 0x0481 && (c & 1) == 1) return c - 1;
  if (c >= 0x048A && c <= 0x04BF && (c & 1) == 1) return c - 1;
  if (c == 0x04CF) return 0x04C0;
  if (c >= 0x04C1 && c <= 0x04CE && (c & 1) == 0) return c - 1;
  if (c >= 0x04D0 && c <= 0x052F && (c & 1) == 1) return c - 1;
  return c;
}

}  // namespace

int ComparePathsNoCase(const std::wstring& a, const std::wstring& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint16_t x = UpperUnit(static_cast<uint16_t>(a[i]));
    const uint16_t y = UpperUnit(static_cast<uint16_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

#endif
