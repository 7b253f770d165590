// How the run's lists become map groups and plain files, and the folders
// made before plain files are written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/DownloadGrouping.h"

namespace {

using Strings = std::vector<std::wstring>;

struct TExpectedMap {
  std::wstring Name;
  Strings Fetch;
  Strings Drop;
};

TEST(CoreDownloadGrouping, MapsBecomeGroupsAndTheRestStaysPlain) {
  const struct {
    const char* name;
    Strings download, remove;
    std::vector<TExpectedMap> maps;
    Strings plainDownloads, plainDeletes;
    int32_t downloadLength;
    bool launcherExcluded;
  } cases[] = {
      {"five plain files, no maps",
       {L"/a.txt", L"/b/c.txt", L"/d", L"/e", L"/f"},
       {},
       {},
       {L"/a.txt", L"/b/c.txt", L"/d", L"/e", L"/f"},
       {},
       5,
       false},
      {"a map with three files to fetch and one to drop, plus two plain files",
       {L"/data/maps/north/settings.ini", L"/data/maps/north/.part_0_0.png", L"/data/maps/north/objects.txt",
        L"/readme.txt", L"/bin/tool.dll"},
       {L"/data/maps/north/old.txt"},
       {{L"north", {L".part_0_0.png", L"objects.txt", L"settings.ini"}, {L"old.txt"}}},
       {L"/bin/tool.dll", L"/readme.txt"},
       {},
       5,
       false},
      {"a map that only loses files counts one step",
       {L"/x.txt"},
       {L"/data/maps/east/a.txt", L"/data/maps/east/sub/b.txt", L"/gone.txt"},
       {{L"east", {}, {L"a.txt", L"sub/b.txt"}}},
       {L"/x.txt"},
       {L"/gone.txt"},
       2,
       false},
      {"maps that fetch come first, then maps that only lose files",
       {L"/data/maps/south/x.txt"},
       {L"/data/maps/north/y.txt", L"/data/maps/south/z.txt"},
       {{L"south", {L"x.txt"}, {L"z.txt"}}, {L"north", {}, {L"y.txt"}}},
       {},
       {},
       2,
       false},
      {"the launcher is removed before counting",
       {L"/Launcher.exe", L"/a.txt"},
       {},
       {},
       {L"/a.txt"},
       {},
       1,
       true},
      {"letter case does not split a map; a file right in the maps folder is plain",
       {L"/data/maps/North/a.txt", L"/DATA/MAPS/north/b.txt", L"/data/maps/readme.txt"},
       {L"/Data/Maps/NORTH/c.txt"},
       {{L"North", {L"a.txt", L"b.txt"}, {L"c.txt"}}},
       {L"/data/maps/readme.txt"},
       {},
       3,
       false},
      {"three maps at once, the launcher among them",
       {L"/Launcher.exe", L"/a.txt", L"/data/maps/north/settings.ini", L"/data/maps/North/.part_0_0.png",
        L"/data/maps/south/x"},
       {L"/data/maps/north/old", L"/data/maps/west/gone", L"/b.txt"},
       {{L"North", {L".part_0_0.png", L"settings.ini"}, {L"old"}},
        {L"south", {L"x"}, {}},
        {L"west", {}, {L"gone"}}},
       {L"/a.txt"},
       {L"/b.txt"},
       5,
       true},
      {"a map path that climbs out of the maps folder names no map",
       {L"/data/maps/../../x.txt", L"/data/maps/north/a.txt"},
       {L"/data/maps/../y.txt"},
       {{L"north", {L"a.txt"}, {}}},
       {L"/data/maps/../../x.txt"},
       {L"/data/maps/../y.txt"},
       2,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSortedStringList download(c.download.begin(), c.download.end());
    TSortedStringList remove(c.remove.begin(), c.remove.end());
    const TDownloadGrouping grouping = GroupDownloads(download, remove);
    ASSERT_EQ(grouping.Maps.size(), c.maps.size());
    for (size_t i = 0; i < c.maps.size(); ++i) {
      EXPECT_EQ(grouping.Maps[i].Name, c.maps[i].Name) << i;
      EXPECT_EQ(grouping.Maps[i].FilesToFetch, c.maps[i].Fetch) << i;
      EXPECT_EQ(grouping.Maps[i].FilesToDelete, c.maps[i].Drop) << i;
    }
    EXPECT_EQ(Strings(download.begin(), download.end()), c.plainDownloads);
    EXPECT_EQ(Strings(remove.begin(), remove.end()), c.plainDeletes);
    EXPECT_EQ(grouping.DownloadLength, c.downloadLength);
    EXPECT_EQ(grouping.LauncherExcluded, c.launcherExcluded);
  }
}

TEST(CoreDownloadGrouping, FoldersAreMadeOnceWithTheirParents) {
  const struct {
    Strings files;
    Strings folders;
  } cases[] = {
      {{L"/a.txt", L"/b.txt"}, {L"/data/maps/"}},
      {{}, {L"/data/maps/"}},
      {{L"/a/x", L"/a/y/z", L"/c/z"}, {L"/data/maps/", L"/a/y/", L"/c/"}},
      {{L"/data/maps/readme.txt", L"/data/x.txt"}, {L"/data/maps/", L"/data/"}},
      {{L"/a/b/w/1", L"/a/b/x", L"/a/b/y/z"}, {L"/data/maps/", L"/a/b/w/", L"/a/b/y/"}},
      {{L"/A/x", L"/a/y/z"}, {L"/data/maps/", L"/a/y/"}},
  };
  for (const auto& c : cases) EXPECT_EQ(FoldersToCreate(c.files), c.folders) << testing::PrintToString(c.files);
}

}  // namespace
