#pragma once
// The text encodings a text response can decode: found by charset name or by a
// byte-order mark, and decoded in one pass.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct TTextEncoding {
  uint32_t CodePage = 0;  // Windows code page; 1200 and 1201 are UTF-16 LE and BE
  bool operator==(const TTextEncoding&) const = default;
};

constexpr uint32_t kCodePageUtf16LE = 1200;
constexpr uint32_t kCodePageUtf16BE = 1201;
constexpr uint32_t kCodePageLatin1 = 28591;
constexpr uint32_t kCodePageUtf8 = 65001;

// The encoding registered under a charset name (compared ignoring letter
// case); empty for a name we do not know.
std::optional<TTextEncoding> EncodingFromCharset(const std::wstring& name);
// The charset parameter of a content type ("; charset=" exactly, up to the next
// ";", blanks trimmed); empty when there is none.
std::wstring CharsetOfContentType(const std::wstring& contentType);
// UTF-8, UTF-16 LE or UTF-16 BE by a byte-order mark at the start of data.
std::optional<TTextEncoding> EncodingFromByteOrderMark(const uint8_t* data, size_t size);
// The system's ANSI code page.
TTextEncoding AnsiEncoding();
// Decodes all bytes; a byte-order mark is kept as U+FEFF.
std::wstring DecodeText(const TTextEncoding& encoding, const uint8_t* data, size_t size);
