#pragma once
// Repository paths that Windows cannot hold (a device name such as "nul.txt",
// a forbidden character, a trailing dot or blank, a local path beyond the
// system's limit) are refused before the run creates or opens anything for
// them: a device would be opened instead of a file.
#include <string>

#include "window/SortedStringList.h"

// Logs the fault and raises EDownloadError naming path when the file an update
// writes for path cannot exist below the installation folder localPath.
void CheckPathToWrite(const std::wstring& localPath, const std::wstring& path);

// Before the downloads start: deletions of such paths are dropped with a log
// line (there can be no such file to delete); then every path to fetch is
// checked, and a refused run leaves toDelete empty, so it deletes nothing.
void CheckPathsToWrite(const std::wstring& localPath, const TSortedStringList& toDownload,
                       TSortedStringList& toDelete);
