#include "update/TreeWalk.h"

#include <map>

#include "update/BlobCompare.h"
#include "update/RepositoryPaths.h"
#include "update/WalkedPaths.h"
#include "update/WritablePaths.h"

namespace {

// The image packing assembles from the pieces; no repository file.
bool IsAssembledImageName(const std::wstring& name) {
  for (const wchar_t* image : {L"map.bmp", L"map.jpg", L"map.png"}) {
    if (EqualsNoCase(name, image)) return true;
  }
  return false;
}

constexpr wchar_t kUpgradeFolder[] = L".upgrade";
constexpr wchar_t kDataFolder[] = L"/data";

// Queues a folder entry of the listing of folder, or skips it.
void QueueFolder(const TTreeEntry& entry, const std::wstring& folder, TFolderQueue& folders) {
  if (folder.empty()) {
    // Change lists are the launcher's business, not the installation's.
    if (entry.Path == kUpgradeFolder) return;
    CheckWalkedPath(L"/" + entry.Path);
    // Every other first-level folder is listed whole in one request: a file
    // left out of the listing would be deleted by the cleanup.
    const bool data = L"/" + entry.Path == kDataFolder;
    folders.emplace_back(data ? entry.URL : entry.URL + L"?recursive=1", L"/" + entry.Path);
  } else if (folder == kDataFolder) {
    // One request lists such a folder with everything below it.
    CheckWalkedPath(L"/data/" + entry.Path);
    folders.emplace_back(entry.URL + L"?recursive=1", L"/data/" + entry.Path);
  }
  // Deeper folders: a recursive listing already holds what is inside them.
}

}  // namespace

bool SplitMapPath(const std::wstring& path, std::wstring& archive, std::wstring& member) {
  const size_t prefix = std::char_traits<wchar_t>::length(kMapsFolder);
  if (!StartsWithNoCase(path, kMapsFolder)) return false;
  const size_t slash = path.find(L'/', prefix);
  if (slash == std::wstring::npos) return false;
  archive = path.substr(0, slash) + L".zip";
  member = path.substr(slash + 1);
  return true;
}

void ApplyTreeListing(const TTreeReply& reply, const std::wstring& folder, const std::wstring& localPath,
                      const TTreeWalkLists& lists) {
  TMapArchiveLookup archives;
  // The members each map of this listing defines, by archive.
  std::map<std::wstring, TSortedStringList, TCaseInsensitiveLess> mapMembers;
  const auto fetch = [&lists](const std::wstring& path, const TTreeEntry& entry) {
    lists.ToDownload.insert(path);
    lists.Blobs[path] = TBlobId{entry.Sha, entry.Size};
  };
  for (const TTreeEntry& entry : reply.Tree) {
    if (entry.IsFolder()) {
      QueueFolder(entry, folder, lists.Folders);
      continue;
    }
    // A submodule names a commit of another repository: nothing to fetch here.
    if (entry.IsSubmodule()) continue;
    const std::wstring path = folder + L"/" + entry.Path;
    CheckWalkedPath(path);
    std::wstring archive, member;
    if (SplitMapPath(path, archive, member)) {
      CheckPathToWrite(localPath, path);
      lists.FullList.insert(archive);
      mapMembers[archive].insert(member);
      if (!archives.MemberMatches(localPath + archive, member, entry)) fetch(path, entry);
      continue;
    }
    if (IsInPlayerSubtree(path)) continue;
    // Before the local copy is opened: "nul.txt" would open a device.
    CheckPathToWrite(localPath, path);
    lists.FullList.insert(path);
    if (!LocalFileMatches(localPath + path, entry)) fetch(path, entry);
  }
  // A member the head no longer has would be carried over by packing.
  for (const auto& [archive, members] : mapMembers) {
    const std::wstring folder = archive.substr(0, archive.size() - 4) + L"/";
    for (const std::wstring& name : archives.MemberNames(localPath + archive)) {
      if (!members.count(name) && !IsAssembledImageName(name)) lists.ToDelete.insert(folder + name);
    }
  }
}

TTreeWalkNext NextTreeWalkStep(const TTreeWalkLists& lists) {
  if (lists.Folders.empty())
    return {lists.ToDownload.empty() && lists.ToDelete.empty() ? TTreeWalkNext::twNothingToLoad
                                                                : TTreeWalkNext::twBeginLoading,
            {}, {}};
  // The first folder queued goes next; the last one takes its place.
  std::swap(lists.Folders.front(), lists.Folders.back());
  std::pair<std::wstring, std::wstring> next = std::move(lists.Folders.back());
  lists.Folders.pop_back();
  return {TTreeWalkNext::twListFolder, std::move(next.second), std::move(next.first)};
}
