#include "window/SortedStringList.h"

#include <windows.h>

int ComparePathsNoCase(const std::wstring& a, const std::wstring& b) {
  const int result = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                          static_cast<int>(b.size()), TRUE);
  return result - CSTR_EQUAL;
}
