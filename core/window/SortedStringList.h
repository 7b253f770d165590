#pragma once
// The update run's path lists: sorted, case-insensitive, a path already
// present is not added again.
#include <set>
#include <string>

// Orders paths by their letters folded the way the file system folds them
// (every alphabet, whatever the locale): two names the file system takes for
// one file compare equal.
int ComparePathsNoCase(const std::wstring& a, const std::wstring& b);

struct TCaseInsensitiveLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return ComparePathsNoCase(a, b) < 0; }
};

using TSortedStringList = std::set<std::wstring, TCaseInsensitiveLess>;
