#pragma once
// Case-insensitive ordering of paths and file names.
#include <string>

// Orders paths by their letters folded the way the file system folds them
// (every alphabet, whatever the locale): two names the file system takes for
// one file compare equal. Negative, zero or positive.
int ComparePathsNoCase(const std::wstring& a, const std::wstring& b);
