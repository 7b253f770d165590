#pragma once
// Files that hold a download until it has proved itself. They live beside
// their target (so that the final move is one atomic rename) under a name
// that is neither an existing file nor a file the run is about to fetch.
#include <string>

#include "Handles.h"
#include "window/SortedStringList.h"

struct TTemporaryFile {
  std::wstring Path;
  // Open for reading and writing (others may read): the download writes
  // through it without opening the file again.
  UniqueFileHandle File;
};

// Creates a new, empty file for the download of repositoryPath below
// localRoot: repositoryPath + ".download", or + "." + n + ".download" when
// that name is taken on disk or among runPaths (repository paths). Raises
// EOSError when no name can be created.
TTemporaryFile ClaimTemporaryFile(const std::wstring& localRoot, const std::wstring& repositoryPath,
                                  const TSortedStringList& runPaths);
