#pragma once
// The update run's path lists: sorted, case-insensitive, a path already
// present is not added again.
#include <cwctype>
#include <set>
#include <string>

struct TCaseInsensitiveLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      wint_t x = std::towupper(a[i]), y = std::towupper(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

using TSortedStringList = std::set<std::wstring, TCaseInsensitiveLess>;
