#include "window/MessageText.h"

std::wstring MessageBoxText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + 4);
  for (size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n')) out.push_back(L'\n');
  }
  return out;
}
