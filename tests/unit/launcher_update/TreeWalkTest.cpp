// The full tree walk against a temporary installation folder: which files
// are fetched, which are listed, which folders are listed next.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "GitBlobHash.h"
#include "MainThreadQueue.h"
#include "Streams.h"
#include "install/LastFile.h"
#include "RunTestSupport.h"
#include "uZipFixes.h"
#include "update/BlobCompare.h"
#include "update/DownloadError.h"
#include "update/TreeReply.h"
#include "update/TreeWalk.h"
#include "update/WritablePaths.h"

namespace {

namespace fs = std::filesystem;
using TPaths = std::set<std::wstring>;

constexpr char kEmptySha[] = "e69de29bb2d1d6434b8b29ae775ad8c2e48c5391";
constexpr char kAbcSha[] = "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f";

std::string BlobSha(const std::string& content) {
  TMemoryStream stream;
  if (!content.empty()) stream.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
  stream.SetPosition(0);
  return GitBlobHash(stream);
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

struct TEntry {
  std::wstring Path;
  std::string Content;  // files: the repository's content
  bool Folder = false;
  std::wstring Type = {};  // another entry type ("commit": a submodule)
};

std::wstring FolderURL(const std::wstring& path) { return L"https://api.test/trees/" + path; }

// A tree reply as the service writes it.
std::wstring TreeBody(const std::vector<TEntry>& entries, const std::wstring& sha = L"0123tree") {
  std::wstring body = L"{\"sha\":\"" + sha + L"\",\"url\":\"https://api.test/trees/" + sha + L"\",\"tree\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const TEntry& e = entries[i];
    if (i) body += L",";
    body += L"{\"path\":\"" + e.Path + L"\",\"mode\":\"100644\",";
    if (!e.Type.empty()) {
      body += L"\"type\":\"" + e.Type + L"\",\"sha\":\"" + Widen(BlobSha("a commit")) + L"\",";
    } else if (e.Folder) {
      body += L"\"type\":\"tree\",\"sha\":\"" + Widen(BlobSha("a folder")) + L"\",";
    } else {
      body += L"\"type\":\"blob\",\"sha\":\"" + Widen(BlobSha(e.Content)) + L"\",\"size\":" +
              std::to_wstring(e.Content.size()) + L",";
    }
    body += L"\"url\":\"" + FolderURL(e.Path) + L"\"}";
  }
  return body + L"],\"truncated\":false}";
}

TTreeReply Reply(const std::vector<TEntry>& entries) { return ParseTreeReply(TreeBody(entries)); }

TPaths AsSet(const TSortedStringList& list) { return TPaths(list.begin(), list.end()); }

class TreeWalkTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    FRoot = fs::path(temp) / (L"veldra-walk-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FLauncher.FSettings.LocalPath = FRoot.wstring();
    MainThread::ProcessPending();
  }
  void TearDown() override {
    MainThread::ProcessPending();
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }

  void WriteLocal(const std::wstring& repositoryPath, const std::string& content) {
    const fs::path file = FRoot / fs::path(repositoryPath.substr(1));
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }
  void WriteArchive(const std::wstring& repositoryPath, const std::map<std::wstring, std::string>& members) {
    const fs::path file = FRoot / fs::path(repositoryPath.substr(1));
    fs::create_directories(file.parent_path());
    TCustomZipFile zip;
    zip.Open(file.wstring(), TZipMode::zmWrite);
    for (const auto& [name, content] : members) {
      TMemoryStream data;
      if (!content.empty()) data.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
      data.SetPosition(0);
      zip.Add(data, name);
    }
    zip.Close();
  }
  std::string ReadLocal(const std::wstring& repositoryPath) {
    std::ifstream in(FRoot / fs::path(repositoryPath.substr(1)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Apply(const std::wstring& folder, const std::vector<TEntry>& entries) {
    ApplyTreeListing(Reply(entries), folder, FLauncher.FSettings.LocalPath, Lists());
  }
  TTreeWalkLists Lists() { return FLauncher.Lists(); }

  fs::path FRoot;
  TTestRun FRun;
  TUpdateRun& FLauncher = *FRun;
};

TEST_F(TreeWalkTest, SameBlobMeansSameSizeAndHash) {
  WriteLocal(L"/empty.txt", "");
  WriteLocal(L"/abc.txt", "abc");
  WriteLocal(L"/abd.txt", "abd");
  WriteLocal(L"/abcd.txt", "abcd");
  const struct {
    const wchar_t* file;
    int64_t size;
    const char* sha;
    bool same;
  } cases[] = {
      {L"/empty.txt", 0, kEmptySha, true},
      {L"/abc.txt", 3, kAbcSha, true},
      {L"/abd.txt", 3, kAbcSha, false},   // right size, other content
      {L"/abcd.txt", 3, kAbcSha, false},  // other size
      {L"/abc.txt", 3, "F2BA8F84AB5C1BCE84A7B441CB1959CFC7093B7F", false},
      {L"/missing.txt", 0, kEmptySha, false},
  };
  for (const auto& c : cases) {
    TTreeEntry entry;
    entry.Path = c.file;
    entry.Size = c.size;
    entry.Sha = c.sha;
    EXPECT_EQ(LocalFileMatches(FLauncher.FSettings.LocalPath + c.file, entry), c.same) << c.file << " " << c.sha;
  }
}

TEST_F(TreeWalkTest, RootListingQueuesFoldersButTheChangeLists) {
  WriteLocal(L"/Launcher.exe", "MZ launcher");
  WriteLocal(L"/changed.txt", "old");
  Apply(L"", {{L".upgrade", "", true},
              {L".Upgrade", "", true},
              {L"data", "", true},
              {L"bin", "", true},
              {L"Launcher.exe", "MZ launcher"},
              {L"changed.txt", "new"},
              {L"new.txt", "fresh"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload), (TPaths{L"/changed.txt", L"/new.txt"}));
  EXPECT_EQ(AsSet(FLauncher.FFullListToDownload), (TPaths{L"/Launcher.exe", L"/changed.txt", L"/new.txt"}));
  // Folders other than /data are listed whole: nothing below them is left unlisted.
  const TFolderQueue queued = {{FolderURL(L".Upgrade") + L"?recursive=1", L"/.Upgrade"},
                               {FolderURL(L"data"), L"/data"},
                               {FolderURL(L"bin") + L"?recursive=1", L"/bin"}};
  EXPECT_EQ(FLauncher.FURLsToDownload, queued);
  // Every file to fetch carries the blob it must turn out to be.
  EXPECT_EQ(FLauncher.FExpectedBlobs.size(), 2u);
  EXPECT_EQ(FLauncher.FExpectedBlobs.at(L"/NEW.TXT").Size, 5);

  // Folders go in the order they came; the last takes the place of the one taken.
  const TTreeWalkNext next = NextTreeWalkStep(Lists());
  EXPECT_EQ(next.Kind, TTreeWalkNext::twListFolder);
  EXPECT_EQ(next.Folder, L"/.Upgrade");
  EXPECT_EQ(next.URL, FolderURL(L".Upgrade") + L"?recursive=1");
  const TFolderQueue left = {{FolderURL(L"bin") + L"?recursive=1", L"/bin"}, {FolderURL(L"data"), L"/data"}};
  EXPECT_EQ(FLauncher.FURLsToDownload, left);
}

TEST_F(TreeWalkTest, DataFoldersAreListedRecursivelyDeeperFoldersNotAtAll) {
  Apply(L"/data", {{L"maps", "", true}, {L"campanings", "", true}, {L"readme.txt", "r"}});
  const TFolderQueue queued = {{FolderURL(L"maps") + L"?recursive=1", L"/data/maps"},
                               {FolderURL(L"campanings") + L"?recursive=1", L"/data/campanings"}};
  EXPECT_EQ(FLauncher.FURLsToDownload, queued);
  EXPECT_EQ(AsSet(FLauncher.FFullListToDownload), TPaths{L"/data/readme.txt"});

  FLauncher.FURLsToDownload.clear();
  Apply(L"/bin", {{L"sub", "", true}, {L"a.dll", "a"}});
  Apply(L"/data/maps", {{L"north", "", true}});
  EXPECT_TRUE(FLauncher.FURLsToDownload.empty());
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload), (TPaths{L"/bin/a.dll", L"/data/readme.txt"}));
}

TEST_F(TreeWalkTest, MapFilesAreComparedWithTheMembersOfTheLocalArchive) {
  WriteArchive(L"/data/maps/north.zip", {{L"settings.ini", "[map]\nsize=2"},
                                         {L"info/about.txt", "old text"},
                                         {L"map.png", "assembled image"}});
  WriteArchive(L"/data/maps/east.zip", {{L"settings.ini", "[east]"}});
  WriteLocal(L"/data/maps/readme.txt", "loose");
  Apply(L"/data/maps", {{L"north", "", true},
                        {L"north/settings.ini", "[map]\nsize=2"},
                        {L"north/info", "", true},
                        {L"north/info/about.txt", "new text"},
                        {L"north/.part_0_0.png", "piece"},
                        {L"east/Settings.ini", "[east]"},
                        {L"south/settings.ini", "[south]"},
                        {L"readme.txt", "loose"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload),
            (TPaths{L"/data/maps/north/info/about.txt", L"/data/maps/north/.part_0_0.png",
                    L"/data/maps/south/settings.ini"}));
  // A member the head's map folder no longer holds is dropped; the assembled image stays.
  WriteArchive(L"/data/maps/west.zip", {{L"old.txt", "gone"}, {L"map.png", "image"}, {L"keep.txt", "k"}});
  Apply(L"/data/maps", {{L"west/keep.txt", "k"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDelete), TPaths{L"/data/maps/west/old.txt"});
  // One archive per map, also for a map with nothing to fetch; no member names.
  EXPECT_EQ(AsSet(FLauncher.FFullListToDownload),
            (TPaths{L"/data/maps/north.zip", L"/data/maps/east.zip", L"/data/maps/south.zip",
                    L"/data/maps/readme.txt", L"/data/maps/west.zip"}));
}

TEST_F(TreeWalkTest, RecursiveListingsListDeepFilesAndSkipSubmodules) {
  WriteLocal(L"/bin/sub/deep.dll", "deep");
  Apply(L"/bin", {{L"sub", "", true},
                  {L"sub/deep.dll", "deep"},
                  {L"sub/new.dll", "new"},
                  {L"engine", "", false, L"commit"},
                  {L"sub/vendor", "", false, L"commit"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload), TPaths{L"/bin/sub/new.dll"});
  EXPECT_EQ(AsSet(FLauncher.FFullListToDownload), (TPaths{L"/bin/sub/deep.dll", L"/bin/sub/new.dll"}));
  EXPECT_TRUE(FLauncher.FURLsToDownload.empty());
}

TEST_F(TreeWalkTest, DamagedArchivesCountAsAbsent) {
  WriteLocal(L"/data/maps/north.zip", "PK\x03\x04 not an archive any more");
  // A real archive whose member data is broken: that member is fetched, the intact one is not.
  WriteArchive(L"/data/maps/south.zip", {{L"a.txt", std::string(4000, 'a')}, {L"b.txt", "intact"}});
  std::string bytes = ReadLocal(L"/data/maps/south.zip");
  bytes[40] = static_cast<char>(bytes[40] ^ 0x55);
  WriteLocal(L"/data/maps/south.zip", bytes);
  Apply(L"/data/maps", {{L"north/settings.ini", "[main]"},
                        {L"south/a.txt", std::string(4000, 'a')},
                        {L"south/b.txt", "intact"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload),
            (TPaths{L"/data/maps/north/settings.ini", L"/data/maps/south/a.txt"}));
}

TEST_F(TreeWalkTest, PlayerSubtreeIsNeitherFetchedNorListed) {
  Apply(L"/data/campanings", {{L"mods/x.txt", "x"}, {L"MODS/deep/y.txt", "y"}, {L"story.txt", "s"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload), TPaths{L"/data/campanings/story.txt"});
  EXPECT_EQ(AsSet(FLauncher.FFullListToDownload), TPaths{L"/data/campanings/story.txt"});
}

TEST_F(TreeWalkTest, PathsThatCouldLeaveTheFolderAreRejected) {
  const struct {
    const wchar_t* folder;
    TEntry entry;
  } cases[] = {
      {L"", {L"..", "", true}},
      {L"", {L"a\\\\b.txt", "x"}},
      {L"/data/maps", {L"north/../../../x.dll", "x"}},
      {L"/data", {L"c:", "", true}},
      {L"/bin", {L"", "x"}},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(Apply(c.folder, {c.entry}), EDownloadError) << c.entry.Path;
  }
}

TEST_F(TreeWalkTest, RateLimitIsCheckedOnTheRootReplyOnly) {
  const std::wstring body = TreeBody({});
  // Checked before the status: a refused root request with too few requests
  // left is reported as the rate limit.
  const struct {
    int32_t status;
    TRateLimitReading rateLimit;
  } cases[] = {{200, {9, 0}}, {200, {0, 0}}, {403, {0, 0}}};
  for (const auto& c : cases) {
    try {
      FLauncher.OnTreeLoaded(c.status, body, c.rateLimit);
      ADD_FAILURE() << "no exception";
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message().rfind(L"Сервера перегружены, попробуйте обновиться через ", 0), 0u) << c.status;
    }
  }
  EXPECT_FALSE(FLauncher.Failed());
  EXPECT_EQ(MainThread::ProcessPending(), 0);

  FLauncher.FCurrentFolder = L"/bin";
  FLauncher.FNewCommitHash = L"c0ffee";
  EXPECT_NO_THROW(FLauncher.OnTreeLoaded(200, body, {0, 0}));
}

TEST_F(TreeWalkTest, AFailedListingIsReportedOnceAndEndsTheRunWithoutCleanup) {
  const struct {
    const wchar_t* folder;
    int32_t status;
    std::wstring body;
    std::wstring message;
  } cases[] = {
      {L"", 404, L"", L"Неожиданная ошибка [404], возможно повреждён файл .last"},
      {L"/data/maps", 500, L"", L"Неожиданная ошибка [500], возможно повреждён файл .last"},
      {L"/data/maps", 200, L"{\"sha\":\"t\",\"tree\":[],\"truncated\":true}", L"Ошибка получения списка файлов!"},
  };
  WriteLocal(L"/stray.txt", "not in the repository");
  for (const auto& c : cases) {
    TTestRun run({FRoot.wstring(), L"main", L"", L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00", nullptr});
    run->FFullListToDownload = {L"/VELDRA.exe"};
    run->FCurrentFolder = c.folder;
    run->Step([&] { run->OnTreeLoaded(c.status, c.body, {5000, 0}); });
    EXPECT_TRUE(run->Ended());
    EXPECT_EQ(MainThread::ProcessPending(), 2) << "the failure, then the end";
    EXPECT_EQ(run.Events.Failures, std::vector<std::wstring>{c.message});
    ASSERT_EQ(run.Events.Ends.size(), 1u);
    EXPECT_EQ(run.Events.Ends[0].Outcome, TUpdateRunEnd::Failed);
    // The lists name only what was listed so far: nothing unlisted goes, no .last.
    EXPECT_EQ(ReadLocal(L"/stray.txt"), "not in the repository");
    EXPECT_FALSE(fs::exists(FRoot / L".last"));
  }
}

TEST_F(TreeWalkTest, NothingToFetchRecordsTheHeadAndFinishes) {
  WriteLocal(L"/VELDRA.exe", "game");
  FLauncher.FNewCommitHash = L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00";
  FLauncher.FSettings.Branch = L"qa";
  // The root reply names its tree; the commit recorded stays the head's.
  WriteLocal(L"/stray.txt", "not in the repository");
  FLauncher.OnTreeLoaded(200, TreeBody({{L"VELDRA.exe", "game"}}, L"7777tree"), {5000, 0});
  EXPECT_EQ(FLauncher.FNewCommitHash, L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00");
  EXPECT_EQ(ReadLocal(L"/.last"), FormatLastFile(L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00", L"qa"));
  EXPECT_EQ(MainThread::ProcessPending(), 1) << "one end";
  ASSERT_EQ(FRun.Events.Ends.size(), 1u);
  EXPECT_EQ(FRun.Events.Ends[0].Outcome, TUpdateRunEnd::NothingToLoad);
  // The walk's cleanup keeps what the repository lists.
  EXPECT_EQ(ReadLocal(L"/VELDRA.exe"), "game");
  EXPECT_FALSE(fs::exists(FRoot / L"stray.txt"));
}

TEST_F(TreeWalkTest, WalkWithoutAHeadFailsWhenTheHeadCannotBeRead) {
  for (int32_t status : {404, 500}) {
    try {
      FLauncher.OnFullUpdateHeadLoaded(status, L"");
      ADD_FAILURE() << "no exception";
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message(), L"Ошибка получения списка файлов!");
    }
  }
  EXPECT_THROW(FLauncher.OnFullUpdateHeadLoaded(200, L""), EDownloadError);
  EXPECT_EQ(FLauncher.FNewCommitHash, L"");
}

// Under Wine as on Windows, opening "nul.txt" opens the NUL device: the walk
// would hash it instead of failing with the path.
TEST_F(TreeWalkTest, NamesWindowsCannotHoldFailTheWalkBeforeTheLocalCopyIsOpened) {
  const std::wstring longName(260 - FRoot.wstring().size(), L'n');
  const struct {
    const wchar_t* folder;
    std::wstring entry;
    std::wstring message;  // its start
  } cases[] = {
      {L"/data", L"nul.txt", L"Файл репозитория /data/nul.txt нельзя сохранить в Windows: «nul» — зарезервированное имя."},
      {L"/data", L"COM1.ini", L"Файл репозитория /data/COM1.ini нельзя сохранить в Windows: «COM1» —"},
      {L"/data", L"who?.txt", L"Файл репозитория /data/who?.txt нельзя сохранить в Windows: знак «?»"},
      {L"/data/maps", L"con/settings.ini", L"Файл репозитория /data/maps/con/settings.ini нельзя сохранить в Windows: «con»"},
      {L"/data", longName, L"Путь к файлу репозитория /data/" + longName + L" в папке игры слишком длинный для Windows."},
  };
  for (const auto& c : cases) {
    try {
      Apply(c.folder, {{L"fine.txt", "x"}, {c.entry, "x"}});
      ADD_FAILURE() << "no exception for " << testing::PrintToString(c.entry);
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message().rfind(c.message, 0), 0u) << testing::PrintToString(e.Message());
    }
    EXPECT_EQ(FLauncher.FFileListToDownload.count(std::wstring(c.folder) + L"/" + c.entry), 0u);
  }
  // Inside a map only the map's name is a file name; its members are zip entries.
  FLauncher.FFileListToDownload.clear();
  Apply(L"/data/maps", {{L"north/nul.txt", "x"}, {L"north/a?.txt", "y"}});
  EXPECT_EQ(AsSet(FLauncher.FFileListToDownload), (TPaths{L"/data/maps/north/nul.txt", L"/data/maps/north/a?.txt"}));
}

TEST_F(TreeWalkTest, DownloadsOfNamesWindowsCannotHoldAreRefusedAndTheirDeletionsSkipped) {
  WriteLocal(L"/old.txt", "old");
  FLauncher.FFileListToDownload = {L"/data/a.txt", L"/data/nul.txt"};
  FLauncher.FFileListToDelete = {L"/old.txt"};
  try {
    FLauncher.BeginFileLoading();
    ADD_FAILURE() << "no exception";
  } catch (const EDownloadError& e) {
    EXPECT_EQ(e.Message().rfind(L"Файл репозитория /data/nul.txt нельзя сохранить в Windows", 0), 0u);
  }
  // Nothing made, and a refused run deletes nothing either.
  EXPECT_FALSE(fs::exists(FRoot / L"data"));
  EXPECT_TRUE(FLauncher.FFileListToDelete.empty());
  EXPECT_EQ(ReadLocal(L"/old.txt"), "old");

  TSortedStringList toDelete = {L"/data/COM1", L"/lpt1.log", L"/data/maps/con/x.txt", L"/data/maps/north/nul.txt",
                                L"/old.txt"};
  CheckPathsToWrite(FLauncher.FSettings.LocalPath, {L"/data/a.txt"}, toDelete);
  EXPECT_EQ(AsSet(toDelete), (TPaths{L"/data/maps/north/nul.txt", L"/old.txt"}));
}

}  // namespace
