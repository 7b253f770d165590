#pragma once
// How the download queue turns the run's lists into work items: every map
// folder below "/data/maps/" that changes becomes one group (one map loader),
// everything else stays a plain file.
#include <cstdint>
#include <string>
#include <vector>

#include "window/SortedStringList.h"

inline constexpr wchar_t kLauncherPath[] = L"/Launcher.exe";

struct TMapChanges {
  std::wstring Name;
  // Relative to the map folder.
  std::vector<std::wstring> FilesToFetch;
  std::vector<std::wstring> FilesToDelete;
};

struct TDownloadGrouping {
  // First the maps with files to fetch, then the maps that only lose files,
  // each group in list order.
  std::vector<TMapChanges> Maps;
  // Progress steps: one per file to fetch, one per map that only loses files.
  int32_t DownloadLength = 0;
  bool LauncherExcluded = false;
};

// Removes "/Launcher.exe" from toDownload (the self-update replaces it) and
// moves every map entry out of both lists into the groups; the lists keep the
// plain files. A file directly in "/data/maps/", or a path that could lead
// outside the installation, belongs to no map and stays plain.
TDownloadGrouping GroupDownloads(TSortedStringList& toDownload, TSortedStringList& toDelete);

// The folders to create before plain files are written, in the order they
// are made: "/data/maps/" first, then per file its folder unless an earlier
// entry already creates it; a deeper folder replaces its parent when they
// follow each other (creating it creates the parent too).
std::vector<std::wstring> FoldersToCreate(const std::vector<std::wstring>& plainFiles);
