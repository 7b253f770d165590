#include "update/CommitHash.h"

#include <algorithm>

bool IsCommitHash(const std::wstring& text) {
  return text.size() == 40 && std::all_of(text.begin(), text.end(), [](wchar_t c) {
           return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
         });
}
