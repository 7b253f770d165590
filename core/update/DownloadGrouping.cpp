#include "update/DownloadGrouping.h"

#include <string_view>

#include "update/RepositoryPaths.h"

namespace {

// The map folder prefix of a path below "/data/maps/" ("/data/maps/" + name +
// "/"), or empty for a path that names no map folder.
std::wstring MapPrefix(const std::wstring& path) {
  const size_t base = std::wstring_view(kMapsFolder).size();
  // An unsafe path names no map; as a plain file it is refused later.
  if (!StartsWithNoCase(path, kMapsFolder) || !IsSafeRepositoryPath(path)) return {};
  const size_t slash = path.find(L'/', base);
  if (slash == std::wstring::npos || slash == base) return {};
  return path.substr(0, slash + 1);
}

std::wstring MapNameOf(const std::wstring& prefix) {
  const size_t base = std::wstring_view(kMapsFolder).size();
  return prefix.substr(base, prefix.size() - base - 1);
}

// Takes the map entries out of list, in list order, handing each with its
// map prefix to add. The sort order keeps them together after "/data/maps/".
template <class Add>
void TakeMapEntries(TSortedStringList& list, Add add) {
  auto it = list.lower_bound(kMapsFolder);
  while (it != list.end() && StartsWithNoCase(*it, kMapsFolder)) {
    const std::wstring prefix = MapPrefix(*it);
    if (prefix.empty()) {
      ++it;
      continue;
    }
    add(prefix, it->substr(prefix.size()));
    it = list.erase(it);
  }
}

}  // namespace

TDownloadGrouping GroupDownloads(TSortedStringList& toDownload, TSortedStringList& toDelete) {
  TDownloadGrouping result;
  result.LauncherExcluded = toDownload.erase(kLauncherPath) > 0;
  result.DownloadLength = static_cast<int32_t>(toDownload.size());

  std::wstring current;
  TakeMapEntries(toDownload, [&](const std::wstring& prefix, std::wstring file) {
    if (current.empty() || !EqualsNoCase(prefix, current)) {
      result.Maps.push_back({MapNameOf(prefix), {}, {}});
      current = prefix;
    }
    result.Maps.back().FilesToFetch.push_back(std::move(file));
  });
  const size_t fetchingMaps = result.Maps.size();

  current.clear();
  TakeMapEntries(toDelete, [&](const std::wstring& prefix, std::wstring file) {
    // A map that also fetches files drops these files in the same loader.
    for (size_t i = 0; i < fetchingMaps; ++i) {
      if (EqualsNoCase(result.Maps[i].Name, MapNameOf(prefix))) {
        result.Maps[i].FilesToDelete.push_back(std::move(file));
        return;
      }
    }
    if (current.empty() || !EqualsNoCase(prefix, current)) {
      result.Maps.push_back({MapNameOf(prefix), {}, {}});
      ++result.DownloadLength;
      current = prefix;
    }
    result.Maps.back().FilesToDelete.push_back(std::move(file));
  });
  return result;
}

std::vector<std::wstring> FoldersToCreate(const std::vector<std::wstring>& plainFiles) {
  std::vector<std::wstring> folders{kMapsFolder};
  for (const std::wstring& file : plainFiles) {
    const size_t slash = file.rfind(L'/');
    if (slash == std::wstring::npos) continue;
    const std::wstring folder = file.substr(0, slash + 1);
    const std::wstring& last = folders.back();
    if (StartsWithNoCase(folder, last)) {
      if (!EqualsNoCase(folder, last)) folders.back() = folder;
    } else if (folder != L"/") {
      folders.push_back(folder);
    }
  }
  return folders;
}
