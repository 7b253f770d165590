#include "update/RepositoryPaths.h"

#include "window/SortedStringList.h"

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && ComparePathsNoCase(a, b) == 0;
}

bool IsInPlayerSubtree(const std::wstring& path) { return StartsWithNoCase(path, kPlayerSubtree); }

bool IsSafeRepositoryPath(const std::wstring& path) {
  if (path.size() < 2 || path[0] != L'/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring segment = path.substr(start, end - start);
    // A trailing "/" names a folder; only the last segment may be empty then.
    if (segment.empty() && end != path.size()) return false;
    if (!segment.empty()) {
      if (segment.back() == L'.' || segment.back() == L' ') return false;
      for (wchar_t c : segment) {
        if (c == L'\\' || c == L':' || c < 0x20) return false;
      }
    }
    start = end + 1;
  }
  return true;
}
