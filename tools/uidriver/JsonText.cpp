#include "JsonText.h"

#include <cstdio>

JsonText& JsonText::Value(const std::wstring& text) {
  Separate();
  FText += '"';
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      FText += '\\';
      FText += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      FText += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c) & 0xFFFF);
      FText += escape;
    }
  }
  FText += '"';
  return *this;
}
