#pragma once
// The update run's path lists: sorted, case-insensitive, a path already
// present is not added again.
#include <set>
#include <string>

#include "PathCompare.h"

struct TCaseInsensitiveLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return ComparePathsNoCase(a, b) < 0; }
};

using TSortedStringList = std::set<std::wstring, TCaseInsensitiveLess>;
