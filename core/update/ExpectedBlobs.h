#pragma once
// What the repository told us about the files a run fetches: a download is
// checked against its blob before it replaces anything.
#include <cstdint>
#include <map>
#include <string>

#include "window/SortedStringList.h"

struct TBlobId {
  std::string Sha;  // Git blob hash, 40 lower-case hexadecimal digits
  int64_t Size = 0;
};

// By repository path; a path the repository gave no hash for is absent.
using TExpectedBlobs = std::map<std::wstring, TBlobId, TCaseInsensitiveLess>;
