// The download queue's own logic: grouping the run's lists into map loaders
// and plain files, the folders made before writing, and the temporary file of
// a download.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>
#include <vector>

#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"
#include "update/DownloadGrouping.h"
#include "update/RepositoryPaths.h"

namespace {

using Strings = std::vector<std::wstring>;

struct TExpectedMap {
  std::wstring Name;
  Strings Fetch;
  Strings Drop;
};

TEST(DownloadGrouping, MapsBecomeLoadersAndTheRestStaysPlain) {
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
      EXPECT_EQ(grouping.Maps[i].Name, c.maps[i].Name);
      EXPECT_EQ(grouping.Maps[i].FilesToFetch, c.maps[i].Fetch);
      EXPECT_EQ(grouping.Maps[i].FilesToDelete, c.maps[i].Drop);
    }
    EXPECT_EQ(Strings(download.begin(), download.end()), c.plainDownloads);
    EXPECT_EQ(Strings(remove.begin(), remove.end()), c.plainDeletes);
    EXPECT_EQ(grouping.DownloadLength, c.downloadLength);
    EXPECT_EQ(grouping.LauncherExcluded, c.launcherExcluded);
  }
}

TEST(DownloadGrouping, FoldersAreMadeOnceWithTheirParents) {
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
  for (const auto& c : cases) EXPECT_EQ(FoldersToCreate(c.files), c.folders) << c.files.size();
}

TEST(RepositoryPaths, OnlyPathsInsideTheInstallationAreSafe) {
  const struct {
    const wchar_t* path;
    bool safe;
  } cases[] = {
      {L"/readme.txt", true},         {L"/data/maps/north/.part_0_0.png", true},
      {L"/a b/c d.txt", true},        {L"/folder/", true},
      {L"", false},                   {L"/", false},
      {L"readme.txt", false},         {L"/../outside.txt", false},
      {L"/data/../../x", false},      {L"/./x", false},
      {L"/a//b", false},              {L"/a\\..\\b", false},
      {L"/C:/Windows/x", false},      {L"/file.txt:stream", false},
      {L"/data/campanings/mods./x", false}, {L"/data/campanings/mods /x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeRepositoryPath(c.path), c.safe) << std::string(c.path, c.path + wcslen(c.path));
  EXPECT_TRUE(IsInPlayerSubtree(L"/DATA/Campanings/MODS/x.txt"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/other.txt"));
}

class DownloadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() /
              (L"queue-download-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(FFolder);
    Write(L"f.txt", "old content");
  }
  void TearDown() override { std::filesystem::remove_all(FFolder); }
  void Write(const std::wstring& name, const std::string& bytes) {
    std::ofstream(FFolder / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::wstring& name) {
    std::ifstream in(FFolder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(const std::wstring& name) { return std::filesystem::exists(FFolder / name); }
  std::unique_ptr<TDownloadFileResponse> Response(const std::wstring& name,
                                                  std::optional<TBlobId> expected = std::nullopt) {
    return std::make_unique<TDownloadFileResponse>(FFolder.wstring(), L"/" + name, TSortedStringList{},
                                                   std::move(expected), nullptr);
  }
  std::filesystem::path FFolder;
};

TEST_F(DownloadFileTest, ANon200ReplyFailsTheStepAndKeepsThePlayersFile) {
  for (int32_t status : {404, 500, 403}) {
    auto response = Response(L"f.txt");
    response->ReceiveData("not found", 9);
    try {
      response->Complete(status);
      FAIL() << "no exception for " << status;
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message(), L"Ошибка загрузки файла /f.txt [" + std::to_wstring(status) + L"]");
    }
    response.reset();
    EXPECT_EQ(Read(L"f.txt"), "old content");
    EXPECT_FALSE(Exists(L"f.txt.download"));
  }
}

TEST_F(DownloadFileTest, AWhole200ReplyReplacesTheFile) {
  for (const wchar_t* name : {L"f.txt", L"new.txt"}) {
    auto response = Response(name);
    EXPECT_TRUE(Exists(std::wstring(name) + L".download"));
    response->ReceiveData("new ", 4);
    response->ReceiveData("content", 7);
    response->Complete(200);
    response.reset();
    EXPECT_EQ(Read(name), "new content");
    EXPECT_FALSE(Exists(std::wstring(name) + L".download"));
  }
}

TEST_F(DownloadFileTest, A200ReplyThatIsNotTheRepositorysBlobKeepsThePlayersFile) {
  const TBlobId abc{"f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f", 3};
  for (const char* body : {"abd", "ab"}) {
    auto response = Response(L"f.txt", abc);
    response->ReceiveData(body, static_cast<uint32_t>(std::strlen(body)));
    EXPECT_THROW(response->Complete(200), EBodyCheckError) << body;
    response.reset();
    EXPECT_EQ(Read(L"f.txt"), "old content");
    EXPECT_FALSE(Exists(L"f.txt.download"));
  }
  auto response = Response(L"f.txt", abc);
  response->ReceiveData("abc", 3);
  response->Complete(200);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), "abc");
}

TEST_F(DownloadFileTest, ATransferThatNeverCompletesLeavesNoTrace) {
  auto response = Response(L"f.txt");
  response->ReceiveData("half", 4);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), "old content");
  EXPECT_FALSE(Exists(L"f.txt.download"));
}

TEST_F(DownloadFileTest, AMissingFolderRaisesInsteadOfDownloading) {
  EXPECT_THROW(Response(L"missing/f.txt"), EOSError);
}

}  // namespace
