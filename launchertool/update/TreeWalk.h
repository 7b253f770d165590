#pragma once
// The full tree walk of an update run: each tree reply adds the files that
// differ from the local copies to the download list, every file the
// repository defines to the full list, and the folders still to be listed
// to the folder queue.
#include <string>
#include <utility>
#include <vector>

#include "update/ExpectedBlobs.h"
#include "update/TreeReply.h"
#include "window/SortedStringList.h"

using TFolderQueue = std::vector<std::pair<std::wstring, std::wstring>>;  // (tree URL, folder path)

struct TTreeWalkLists {
  TSortedStringList& ToDownload;
  TSortedStringList& FullList;
  TFolderQueue& Folders;
  // The blob of every file put on ToDownload.
  TExpectedBlobs& Blobs;
  // Members of local map archives that the head's map folders no longer hold.
  TSortedStringList& ToDelete;
};

// The packed archive of the map a file below "/data/maps/" belongs to, and
// the file's member name in it. False for a path that is not inside a map
// folder (a file directly in "/data/maps/").
bool SplitMapPath(const std::wstring& path, std::wstring& archive, std::wstring& member);

// Applies the listing of folder (empty: the root) to the lists, comparing
// files with the copies below localPath. Raises EDownloadError
// "Неожиданная ошибка!" for a path that could leave the installation folder,
// and one naming the path for a file Windows cannot hold, before its local
// copy is opened.
void ApplyTreeListing(const TTreeReply& reply, const std::wstring& folder, const std::wstring& localPath,
                      const TTreeWalkLists& lists);

struct TTreeWalkNext {
  enum TKind { twNothingToLoad, twBeginLoading, twListFolder } Kind;
  std::wstring Folder;  // twListFolder: the folder to list next, and its URL
  std::wstring URL;
};

// What follows a listing; for twListFolder the folder is taken off the queue.
TTreeWalkNext NextTreeWalkStep(const TTreeWalkLists& lists);
