#include "maps/MapFormat.h"

#include <cwctype>
#include <memory>

#include "TextEncoding.h"
#include "ZipFile.h"

namespace {
std::wstring Trim(const std::wstring& text) {
  size_t first = text.find_first_not_of(L" \t\r\n\uFEFF");
  if (first == std::wstring::npos) return {};
  size_t last = text.find_last_not_of(L" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}
}  // namespace

std::wstring MapFormatFromSettings(const std::vector<uint8_t>& settings) {
  auto encoding = EncodingFromByteOrderMark(settings.data(), settings.size());
  std::wstring text = DecodeText(encoding ? *encoding : AnsiEncoding(), settings.data(), settings.size());
  std::wstring section;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(L"\r\n", start);
    std::wstring line = Trim(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    start = end == std::wstring::npos ? text.size() + 1 : end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']');
      section = Lower(Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)));
      continue;
    }
    size_t equals = line.find(L'=');
    if (section != L"main" || equals == std::wstring::npos) continue;
    // The first occurrence of a key wins, as the INI reader of the settings does.
    if (Lower(Trim(line.substr(0, equals))) == L"mapformat") return Lower(Trim(line.substr(equals + 1)));
  }
  return L"bmp";
}

std::wstring ReadMapFormat(TZipFile& archive) {
  TZipHeader header;
  std::unique_ptr<TStream> member = archive.Read(L"settings.ini", header);
  std::vector<uint8_t> bytes(header.UncompressedSize);
  if (!bytes.empty()) member->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return MapFormatFromSettings(bytes);
}
