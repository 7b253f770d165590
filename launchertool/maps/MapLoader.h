#pragma once
// TMapLoader: one changed map of an update run. Downloads the map's changed
// files into a new archive <map>.download, assembles changed image pieces on
// a raw canvas, and hands itself to the packer thread.
#include <memory>
#include <string>

#include "window/SortedStringList.h"

class TMapLoader {
 public:
  explicit TMapLoader(std::wstring name);
  ~TMapLoader();
  TMapLoader(const TMapLoader&) = delete;
  TMapLoader& operator=(const TMapLoader&) = delete;

  // Starts the first download and returns; the rest runs in completion handlers.
  void BeginLoading();
  // Completes <map>.zip on the packer thread.
  void PackMap();

  const std::wstring& MapName() const { return FMapName; }

  // Relative to the map folder; filled by the window before loading starts.
  TSortedStringList FFilesList;
  TSortedStringList FFilesToDelete;

 private:
  std::wstring FMapName;
};
