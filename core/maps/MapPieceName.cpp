#include "maps/MapPieceName.h"

#include <cwctype>
#include <vector>

namespace {
constexpr wchar_t kPiecePrefix[] = L".part_";

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) return fields;
    start = end + 1;
  }
}

// Decimal digits only, small enough not to overflow.
std::optional<int32_t> ParseIndex(const std::wstring& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int32_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}
}  // namespace

bool IsMapPiece(const std::wstring& name) { return name.starts_with(kPiecePrefix); }

std::wstring MapFileExtension(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  std::wstring extension = name.substr(dot + 1);
  for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
  return extension;
}

std::optional<TMapPieceName> ParseMapPieceName(const std::wstring& name) {
  if (!IsMapPiece(name)) return std::nullopt;
  size_t dot = name.rfind(L'.');
  // The prefix's own dot is not an extension separator.
  if (dot == 0) return std::nullopt;
  std::vector<std::wstring> fields = Split(name.substr(0, dot), L'_');
  if (fields.size() < 3) return std::nullopt;
  auto column = ParseIndex(fields[1]);
  auto row = ParseIndex(fields[2]);
  if (!column || !row) return std::nullopt;
  return TMapPieceName{*column, *row, MapFileExtension(name)};
}

bool IsSafeMapName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"/\\:") == std::wstring::npos;
}

bool IsSafeMapFileName(const std::wstring& name) {
  if (name.empty() || name.find(L'\\') != std::wstring::npos) return false;
  for (const std::wstring& segment : Split(name, L'/'))
    if (segment.empty() || segment == L"..") return false;
  return true;
}
