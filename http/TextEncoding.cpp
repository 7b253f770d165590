#include "TextEncoding.h"

#include <windows.h>

#include <cwctype>

namespace {

struct TCharsetName {
  const wchar_t* Name;
  uint32_t CodePage;
};

constexpr TCharsetName kCharsets[] = {
    {L"utf-8", kCodePageUtf8},          {L"utf8", kCodePageUtf8},
    {L"utf-16", kCodePageUtf16LE},      {L"utf-16le", kCodePageUtf16LE},
    {L"utf-16be", kCodePageUtf16BE},    {L"iso-8859-1", kCodePageLatin1},
    {L"latin1", kCodePageLatin1},       {L"us-ascii", 20127},
    {L"ascii", 20127},                  {L"windows-1250", 1250},
    {L"windows-1251", 1251},            {L"windows-1252", 1252},
    {L"cp1251", 1251},                  {L"koi8-r", 20866},
    {L"koi8-u", 21866},                 {L"iso-8859-2", 28592},
    {L"iso-8859-5", 28595},             {L"iso-8859-15", 28605},
    {L"cp866", 866},                    {L"ibm866", 866},
};

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring TrimBlanks(const std::wstring& s) {
  size_t first = s.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return L"";
  size_t last = s.find_last_not_of(L" \t");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::optional<TTextEncoding> EncodingFromCharset(const std::wstring& name) {
  std::wstring key = Lower(name);
  for (const auto& entry : kCharsets) {
    if (key == entry.Name) return TTextEncoding{entry.CodePage};
  }
  return std::nullopt;
}

std::wstring CharsetOfContentType(const std::wstring& contentType) {
  static const std::wstring marker = L"; charset=";
  size_t at = contentType.find(marker);
  if (at == std::wstring::npos) return L"";
  size_t start = at + marker.size();
  size_t end = contentType.find(L';', start);
  return TrimBlanks(contentType.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
}

std::optional<TTextEncoding> EncodingFromByteOrderMark(const uint8_t* data, size_t size) {
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) return TTextEncoding{kCodePageUtf8};
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return TTextEncoding{kCodePageUtf16LE};
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) return TTextEncoding{kCodePageUtf16BE};
  return std::nullopt;
}

TTextEncoding AnsiEncoding() { return TTextEncoding{GetACP()}; }

std::wstring DecodeText(const TTextEncoding& encoding, const uint8_t* data, size_t size) {
  std::wstring text;
  switch (encoding.CodePage) {
    case kCodePageLatin1:
      text.reserve(size);
      for (size_t i = 0; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
      return text;
    case kCodePageUtf16LE:
    case kCodePageUtf16BE: {
      bool big = encoding.CodePage == kCodePageUtf16BE;
      text.reserve(size / 2);
      for (size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(big ? (data[i] << 8) | data[i + 1] : data[i] | (data[i + 1] << 8)));
      }
      return text;
    }
    default: {
      if (size == 0) return text;
      const char* bytes = reinterpret_cast<const char*>(data);
      int length = MultiByteToWideChar(encoding.CodePage, 0, bytes, static_cast<int>(size), nullptr, 0);
      text.resize(static_cast<size_t>(length));
      if (length > 0) MultiByteToWideChar(encoding.CodePage, 0, bytes, static_cast<int>(size), text.data(), length);
      return text;
    }
  }
}
