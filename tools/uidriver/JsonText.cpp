#include "JsonText.h"

#include <windows.h>

#include <nlohmann/json.hpp>

std::string JsonEscapedAscii(const std::wstring& text) {
  std::string utf8;
  if (!text.empty()) {
    // Lone surrogates become U+FFFD here; everything else keeps its units.
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    utf8.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
  }
  return nlohmann::json(utf8).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

JsonText& JsonText::Key(const char* name) {
  Separate();
  FText += nlohmann::json(name).dump() + ":";
  FFirst = true;  // the value follows without a comma
  return *this;
}

JsonText& JsonText::Value(const std::wstring& text) {
  Separate();
  FText += JsonEscapedAscii(text);
  return *this;
}
