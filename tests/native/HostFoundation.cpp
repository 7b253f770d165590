// The two foundation pieces the core uses, defined for the host: exceptions
// without stack capture, and UTF-8 to UTF-16 code units. The std::wstring of
// the host then holds the same units as on Windows (surrogate pairs too), so
// the core's rules see the same text.
#include <cstdint>

#include "Exceptions.h"
#include "Utf8.h"

TStackInfo TStackInfo::CaptureHere(unsigned) { return {}; }

Exception::Exception(std::wstring message) : FMessage(std::move(message)) {}

Exception::Exception(std::wstring message, ExceptionPtr inner)
    : FMessage(std::move(message)), FInner(std::move(inner)) {}

const Exception& Exception::GetBaseException() const {
  const Exception* e = this;
  while (e->InnerException()) e = e->InnerException();
  return *e;
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(text[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    // A lone surrogate becomes U+FFFD, as WideCharToMultiByte writes it.
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::wstring FromUtf8(const std::string& bytes) {
  std::wstring out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    const size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
    bool ok = extra < 4 && i + extra < bytes.size();
    uint32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (size_t k = 1; ok && k <= extra; ++k) {
      const auto c = static_cast<uint8_t>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are invalid too.
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (cp < kMinimum[extra] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF)) ok = false;
    if (!ok) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
    i += extra + 1;
  }
  return out;
}
