// The finishing step on a real folder: which files the deletions and the
// cleanup after a full walk remove, what .last holds, and a failed run.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Handles.h"
#include "analytics/AnalyticsSender.h"
#include "install/LastFile.h"
#include "RunTestSupport.h"
#include "update/DownloadError.h"
#include "uLauncher.h"

namespace {

namespace fs = std::filesystem;

class FinishTest : public testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / (L"queue-finish-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(FRoot);
    FInstall = FRoot / L"Game";
    for (const wchar_t* file : kLayout) Write(file, "x");
    fs::create_directories(FInstall / L"empty");
    Write(L"/../outside.txt", "x");
    FLauncher.FSettings.LocalPath = FInstall.wstring();
    // Reports other tests' runs left queued.
    MainThread::ProcessPending();
  }
  void TearDown() override {
    // The run holds its list of temporary files open until it goes.
    FRun.Run.reset();
    fs::remove_all(FRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Classes\\vdr");
  }
  void Write(const std::wstring& path, const std::string& bytes) {
    const fs::path file = FInstall.wstring() + path;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
  }
  std::string Read(const std::wstring& path) {
    std::ifstream in(fs::path(FInstall.wstring() + path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The files of kLayout (and outside.txt) that are gone.
  std::vector<std::wstring> Deleted() {
    std::vector<std::wstring> gone;
    for (const wchar_t* file : kLayout) {
      if (!fs::exists(FInstall.wstring() + file)) gone.push_back(file);
    }
    if (!fs::exists(FRoot / L"outside.txt")) gone.push_back(L"/../outside.txt");
    return gone;
  }

  static constexpr const wchar_t* kLayout[] = {
      L"/.last",
      L"/VELDRA.exe",
      L"/Launcher_old.exe",
      L"/readme.txt",
      L"/data/maps/north.zip",
      L"/data/maps/north.download",
      L"/Data/Textures/Stone.PNG",
      L"/data/campanings/other.txt",
      L"/data/campanings/mods/mine.txt",
      L"/data/campanings/mods/sub/deep.txt",
  };
  fs::path FRoot, FInstall;
  TTestRun FRun;
  TUpdateRun& FLauncher = *FRun;
};

TEST_F(FinishTest, AnIncrementalRunDeletesOnlyTheListedFiles) {
  FLauncher.FFileListToDelete = {L"/readme.txt", L"/missing.txt", L"/../outside.txt", L"/data/../../outside.txt",
                                 L"/data/campanings/mods/mine.txt", L"/DATA/CAMPANINGS/MODS/sub/deep.txt",
                                 L"/data\\maps\\north.zip"};
  FLauncher.ApplyDeletions();
  EXPECT_EQ(Deleted(), std::vector<std::wstring>{L"/readme.txt"});
  EXPECT_TRUE(FLauncher.FFileListToDelete.empty());
}

TEST_F(FinishTest, AFullWalkDeletesWhatTheRepositoryDoesNotList) {
  FLauncher.FFullListToDownload = {L"/VELDRA.exe", L"/data/maps/north.zip", L"/data/textures/stone.png"};
  FLauncher.FFileListToDelete = {L"/VELDRA.exe"};
  FLauncher.ApplyDeletions();
  const std::vector<std::wstring> expected = {L"/VELDRA.exe", L"/Launcher_old.exe", L"/readme.txt",
                                              L"/data/maps/north.download", L"/data/campanings/other.txt"};
  EXPECT_EQ(Deleted(), expected);
  EXPECT_TRUE(fs::is_directory(FInstall / L"empty"));
  EXPECT_TRUE(FLauncher.FFullListToDownload.empty());
}

TEST_F(FinishTest, ADeletionThatFailsFailsTheRunAndNamesTheFile) {
  // Held by another program without delete sharing, for longer than the retries.
  UniqueFileHandle held(CreateFileW((FInstall.wstring() + L"\\readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  // Read-only files are the launcher's own and go all the same.
  SetFileAttributesW((FInstall.wstring() + L"\\VELDRA.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  FLauncher.FFileListToDelete = {L"/VELDRA.exe", L"/readme.txt", L"/Launcher_old.exe"};
  FLauncher.FNewCommitHash = L"newhash";
  const std::string record = Read(L"/.last");
  FLauncher.FinishUpdate();
  held.reset();
  // Every deletion is tried; the one that failed keeps .last as it was.
  EXPECT_EQ(Deleted(), (std::vector<std::wstring>{L"/VELDRA.exe", L"/Launcher_old.exe"}));
  EXPECT_EQ(Read(L"/.last"), record);
  MainThread::ProcessPending();
  ASSERT_EQ(FRun.Events.Failures.size(), 1u);
  EXPECT_EQ(FRun.Events.Failures[0],
            L"Файл /readme.txt занят другой программой (например, игрой, редактором или антивирусом). Закройте её и "
            L"нажмите «Обновить» ещё раз.");
  ASSERT_EQ(FRun.Events.Ends.size(), 1u);
  EXPECT_EQ(FRun.Events.Ends[0].Outcome, TUpdateRunEnd::Failed);
}

TEST_F(FinishTest, LastFileHoldsHashTabBranchInUtf16) {
  Write(L"/.last", std::string(200, 'z'));
  // A hidden, read-only record is still replaced.
  SetFileAttributesW((FInstall.wstring() + L"\\.last").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  FLauncher.FNewCommitHash = L"0123abc";
  FLauncher.FSettings.Branch = L"qa";
  FLauncher.WriteLastFile();
  std::string expected;
  for (wchar_t c : std::wstring(L"0123abc\tqa")) {
    expected += static_cast<char>(c & 0xFF);
    expected += static_cast<char>(c >> 8);
  }
  EXPECT_EQ(Read(L"/.last"), expected);
  EXPECT_EQ(ParseLastFile(Read(L"/.last")).CommitHash, L"0123abc");
  EXPECT_FALSE(fs::exists(FInstall / L".last.download"));
}

TEST_F(FinishTest, ALastFileThatCannotBeReplacedStaysWholeAndNoTemporaryStays) {
  const std::string record = FormatLastFile(L"oldhash", L"qa");
  Write(L"/.last", record);
  // Open without delete sharing: it cannot be replaced.
  UniqueFileHandle held(CreateFileW((FInstall.wstring() + L"\\.last").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  FLauncher.FNewCommitHash = L"newhash";
  try {
    FLauncher.WriteLastFile();
    ADD_FAILURE() << "a held .last was replaced";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.FileName, FInstall.wstring() + L"\\.last");
  }
  held.reset();
  EXPECT_EQ(Read(L"/.last"), record);
  EXPECT_FALSE(fs::exists(FInstall / L".last.download"));
}

TEST_F(FinishTest, AFailedRunDeletesNothingKeepsTheOldRecordAndEndsOnce) {
  const std::string record = FormatLastFile(L"oldhash", L"main");
  Write(L"/.last", record);
  FLauncher.FSettings.LastCommitHash = L"oldhash";
  FLauncher.FNewCommitHash = L"newhash";
  FLauncher.Fail(std::make_shared<EDownloadError>(L"Ошибка загрузки файла /a.txt"));
  FLauncher.FFullListToDownload = {L"/VELDRA.exe"};
  FLauncher.FFileListToDelete = {L"/readme.txt"};
  FLauncher.FinishUpdate();
  FLauncher.FinishUpdate();
  EXPECT_EQ(Read(L"/.last"), record);
  // Neither the listed deletion nor the walk's cleanup: the next run replays them.
  EXPECT_EQ(Deleted(), std::vector<std::wstring>{});
  EXPECT_EQ(MainThread::ProcessPending(), 2);
  EXPECT_EQ(FRun.Events.Failures, std::vector<std::wstring>{L"Ошибка загрузки файла /a.txt"});
  ASSERT_EQ(FRun.Events.Ends.size(), 1u);
  EXPECT_EQ(FRun.Events.Ends[0].Outcome, TUpdateRunEnd::Failed);
  EXPECT_EQ(FRun.Events.Ends[0].NewCommitHash, L"newhash");
}

TEST(FinishWindowTest, AFailedRunOffersTheUpdateAgainAndReportsTheEnd) {
  std::mutex lock;
  std::vector<std::string> events;
  TfLauncher window;
  window.FAnalytics = std::make_shared<TAnalyticsSender>([&](const std::string& body) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(body);
  });
  window.FClientId = L"1.2";
  window.FLastCommitHash = L"oldhash";
  window.FErrorOnLoading = true;
  window.ResetUpdateState();
  EXPECT_FALSE(window.IsError());
  EXPECT_EQ(window.FLastCommitHash, L"oldhash");
  ASSERT_TRUE(window.FAnalytics->WaitIdle(10000));
  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find("update_end"), std::string::npos) << events[0];
  EXPECT_NE(events[0].find("\"error\": true"), std::string::npos) << events[0];
}

}  // namespace
