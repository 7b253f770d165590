// Maps and files loaded over HTTP by a whole update run: the files come from
// a loopback server standing in for the raw-content host, the client is the
// real asynchronous one, the packer is the real thread, and every decision is
// taken where the run takes it, on this (the main) thread. The runs that stop
// in the middle of their work repeat many times: what they catch depends on
// timing, and the run's main-thread assertions end the program when it goes
// wrong.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "../http/TestServer.h"
#include "../launcher_update/RunTestSupport.h"
#include "HttpClient.h"
#include "MainThreadQueue.h"
#include "MapTestSupport.h"
#include "update/DownloadError.h"
#include "update/ExchangeSet.h"

namespace {
constexpr wchar_t kHead[] = L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00";
const std::string kRaw = "/ORMUND42/veldra_public/qa";

// One side of a hand-over between a server thread and the test.
class TGate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FOpen = true;
    }
    FChanged.notify_all();
  }
  // False when nothing opened it in time: the test fails instead of hanging.
  bool Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(30), [this] { return FOpen; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FOpen = false;
};

using TFiles = std::map<std::wstring, std::vector<uint8_t>>;

// The installation's files by local path, without the run's temporary files,
// which may still be open.
TFiles InstalledFiles(const std::wstring& folder) {
  TFiles files;
  std::function<void(const std::wstring&)> walk = [&](const std::wstring& sub) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + sub + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      const std::wstring name = data.cFileName;
      const std::wstring path = sub + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (name != L"." && name != L"..") walk(path);
      } else if (!name.ends_with(L".download") && name != L".launcher-temporaries") {
        files[path] = FileBytes(folder + path);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  };
  walk(L"");
  return files;
}

std::vector<std::wstring> TemporaryFiles(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const wchar_t* pattern : {L"\\*.download", L"\\data\\maps\\*.download"}) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      found.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return found;
}

// Every exchange of every run has let go of what it held; then what they
// posted has run.
void AwaitExchangesFreed() {
  EXPECT_TRUE(TExchangeSet::WaitForAllFreed(90000));
  MainThread::PumpUntil([] { return false; }, 50);
}

class MapDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The endpoints are read once per process: every test here uses the same
    // port, so one server serves them all.
    static TTestServer* server = new TTestServer([](const TSeenRequest& request) { return Serve(request); });
    Server = server;
    _wputenv_s(L"VELDRA_RAW_URL", (L"http://127.0.0.1:" + std::to_wstring(Server->Port())).c_str());
    MainThread::Initialize();
    MainThread::SetExceptionHandler([this](const Exception& e) { Raised.push_back(e.Clone()); });
  }
  void TearDown() override {
    MainThread::ProcessPending();
    MainThread::SetExceptionHandler(nullptr);
    DeleteFileW((Folder.Path() + L"\\.last").c_str());
    std::lock_guard<std::mutex> lock(FilesLock());
    Files().clear();
  }

  static std::mutex& FilesLock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<std::string, TReply>& Files() {
    static std::map<std::string, TReply> files;
    return files;
  }
  static TReply Serve(const TSeenRequest& request) {
    std::lock_guard<std::mutex> lock(FilesLock());
    auto found = Files().find(request.Path);
    if (found == Files().end()) {
      TReply missing;
      missing.Status = 404;
      missing.Body = "404: Not Found";
      return missing;
    }
    return found->second;
  }
  static void Put(const std::string& path, int status, const std::vector<uint8_t>& body) {
    TReply reply;
    reply.Status = status;
    reply.Body.assign(body.begin(), body.end());
    Put(path, std::move(reply));
  }
  static void Put(const std::string& path, TReply reply) {
    std::lock_guard<std::mutex> lock(FilesLock());
    Files()[path] = std::move(reply);
  }

  // A run over these repository paths with its downloads started.
  std::unique_ptr<TTestRun> StartRun(const std::vector<std::wstring>& paths) {
    TUpdateRunSettings settings;
    settings.LocalPath = Folder.Path();
    settings.Branch = L"qa";
    settings.LastCommitHash = L"0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0";
    settings.NewCommitHash = kHead;
    settings.Client = std::make_shared<THTTPClient>(L"test", L"", L"", true);
    auto run = std::make_unique<TTestRun>(std::move(settings));
    for (const std::wstring& path : paths) (*run)->FFileListToDownload.insert(path);
    (*run)->Step([&] { (*run)->BeginFileLoading(); });
    return run;
  }
  // The same, from its downloads to its end.
  std::unique_ptr<TTestRun> Run(std::initializer_list<const wchar_t*> paths) {
    auto run = StartRun(std::vector<std::wstring>(paths.begin(), paths.end()));
    EXPECT_TRUE(MainThread::PumpUntil([&] { return !run->Events.Ends.empty(); }, 60000));
    return run;
  }
  void RemoveRootFiles(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) DeleteFileW((Folder.Path() + L"\\" + name).c_str());
    DeleteFileW((Folder.Path() + L"\\.launcher-temporaries").c_str());
  }

  TTestServer* Server = nullptr;
  TInstallFolder Folder;
  std::vector<std::shared_ptr<Exception>> Raised;
};
}  // namespace

TEST_F(MapDownloadTest, FilesAndPiecesOfTheBranchBecomeTheNewArchive) {
  WriteArchive(Folder.Map(L"north.zip"), {{L"settings.ini", Bytes(IniText("png"))},
                                          {L"map.png", EncodeImage(kPngGraphicClass, PatternBitmap(4100, 3, 1))},
                                          {L"kept.txt", Bytes("kept")}});
  const std::string base = "/ORMUND42/veldra_public/qa/data/maps/north/";
  Put(base + "settings.ini", 200, Bytes(IniText("bmp")));
  Put(base + "sub/two%20words.txt", 200, Bytes("two words"));
  Put(base + ".part_0_0.png", 200, EncodeImage(kPngGraphicClass, PatternBitmap(4000, 3, 2)));
  auto run = Run({L"/data/maps/north/settings.ini", L"/data/maps/north/sub/two words.txt",
                  L"/data/maps/north/.part_0_0.png"});

  EXPECT_TRUE(run->Events.Failures.empty());
  EXPECT_TRUE(Raised.empty());
  ASSERT_EQ(run->Events.Ends.size(), 1u);
  EXPECT_EQ(run->Events.Ends[0].Outcome, TUpdateRunEnd::Installed);
  EXPECT_EQ(run->Events.Progress.back(), std::make_pair(3, 3));
  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"sub/two words.txt", L"kept.txt", L"map.bmp"}));
  EXPECT_EQ(members[1].Data, Bytes("two words"));
  TBitmap24 image = DecodeImage(kBitmapGraphicClass, members[3].Data);
  EXPECT_EQ(image.Width(), 4100);
  uint8_t fromPiece[3], fromOld[3];
  PatternPixel(2, 7, 1, fromPiece);
  PatternPixel(1, 4050, 2, fromOld);
  EXPECT_EQ(0, memcmp(image.Row(1) + 7 * 3, fromPiece, 3));
  EXPECT_EQ(0, memcmp(image.Row(2) + 4050 * 3, fromOld, 3));
  EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
}

TEST_F(MapDownloadTest, AFailedReplyStopsTheMapAndLeavesTheOldArchive) {
  WriteArchive(Folder.Map(L"south.zip"), {{L"a.txt", Bytes("a")}});
  auto before = FileBytes(Folder.Map(L"south.zip"));
  const std::string base = "/ORMUND42/veldra_public/qa/data/maps/south/";
  Put(base + "a.txt", 200, Bytes("new a"));
  Put(base + "b.txt", 404, Bytes("404: Not Found"));
  auto run = Run({L"/data/maps/south/a.txt", L"/data/maps/south/b.txt"});

  // Reported once, to the run; nothing reaches the last-chance handler.
  ASSERT_EQ(run->Events.Failures.size(), 1u);
  EXPECT_NE(run->Events.Failures[0].find(L"south/b.txt [404]"), std::wstring::npos);
  EXPECT_TRUE(Raised.empty());
  ASSERT_EQ(run->Events.Ends.size(), 1u);
  EXPECT_EQ(run->Events.Ends[0].Outcome, TUpdateRunEnd::Failed);
  EXPECT_EQ(FileBytes(Folder.Map(L"south.zip")), before);
  EXPECT_FALSE(Exists(Folder.Map(L"south.download")));
  EXPECT_FALSE(Exists(Folder.Path() + L"\\.last"));
}

// The run fails while a map member is in the middle of its body; the rest of
// the body comes afterwards. The member's exchange still writes the new
// archive then, so the archive lives until that exchange is freed, and the
// run ends only after that.
TEST_F(MapDownloadTest, ARunFailedWhileAMapMemberIsMidBodyEndsOnlyWhenTheMemberLetGo) {
  WriteArchive(Folder.Map(L"north.zip"), {{L"a.txt", Bytes("old a")}});
  const auto before = FileBytes(Folder.Map(L"north.zip"));
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    auto memberPaused = std::make_shared<TGate>();
    auto bodyReleased = std::make_shared<TGate>();
    TReply member;
    member.Body = std::string(300000, 'm');
    member.PauseAfter = 150000;
    member.Paused = [memberPaused, bodyReleased] {
      memberPaused->Open();
      bodyReleased->Wait();
    };
    Put(kRaw + "/data/maps/north/a.txt", member);
    TReply failing;
    // Final: a transient status would be retried first.
    failing.Status = 404;
    failing.Paused = [memberPaused] { memberPaused->Wait(); };
    Put(kRaw + "/bad.txt", failing);

    auto run = StartRun({L"/data/maps/north/a.txt", L"/bad.txt"});
    bool freedAtEnd = false;
    run->Events.Then = [&] {
      if (!run->Events.Ends.empty()) // The last handler lets go on its worker a moment after the set heard of it.
        freedAtEnd = TExchangeSet::WaitForAllFreed(2000);
    };
    ASSERT_TRUE(MainThread::PumpUntil([&] { return !run->Events.Failures.empty(); }, 60000));
    MainThread::PumpUntil([] { return false; }, static_cast<unsigned>(round % 4) * 10);
    bodyReleased->Open();
    ASSERT_TRUE(MainThread::PumpUntil([&] { return !run->Events.Ends.empty(); }, 90000));

    ASSERT_EQ(run->Events.Failures.size(), 1u);
    EXPECT_NE(run->Events.Failures[0].find(L"/bad.txt [404]"), std::wstring::npos) << run->Events.Failures[0];
    ASSERT_EQ(run->Events.Ends.size(), 1u);
    EXPECT_EQ(run->Events.Ends[0].Outcome, TUpdateRunEnd::Failed);
    EXPECT_TRUE(freedAtEnd);
    EXPECT_EQ(TemporaryFiles(Folder.Path()), std::vector<std::wstring>{});
    run.reset();
    AwaitExchangesFreed();
    EXPECT_EQ(FileBytes(Folder.Map(L"north.zip")), before);
    EXPECT_TRUE(Raised.empty());
  }
  RemoveRootFiles({});
}

// The window closes (the run is dropped) just as the packer reports: the run
// goes on the main thread, never on the packer's, whatever the moment.
TEST_F(MapDownloadTest, ClosingAtThePackersReportDropsTheRunOnTheMainThread) {
  WriteArchive(Folder.Map(L"north.zip"), {{L"a.txt", Bytes("old a")}});
  Put(kRaw + "/data/maps/north/a.txt", 200, Bytes("new a"));
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    auto run = StartRun({L"/data/maps/north/a.txt"});
    const bool inTheReport = round % 3 == 0;
    // Posted from the packer thread; the window drops its run right there or
    // a moment later.
    run->Events.Then = [&] {
      if (inTheReport && run->Run && !run->Events.Statuses.empty() &&
          run->Events.Statuses.back() == TUpdateRunStatus::Packing) {
        run->Run.reset();
      }
    };
    ASSERT_TRUE(MainThread::PumpUntil(
        [&] {
          for (TUpdateRunStatus status : run->Events.Statuses) {
            if (status == TUpdateRunStatus::Packing) return true;
          }
          return !run->Events.Ends.empty();
        },
        60000));
    if (run->Run) {
      Sleep(static_cast<DWORD>(round % 5));
      run->Run.reset();
    }
    AwaitExchangesFreed();
    EXPECT_EQ(TemporaryFiles(Folder.Path()), std::vector<std::wstring>{});
    // Packed or not, the archive is whole: the old one or the new.
    const auto members = ReadArchive(Folder.Map(L"north.zip"));
    ASSERT_EQ(Names(members), std::vector<std::wstring>{L"a.txt"});
    EXPECT_TRUE(members[0].Data == Bytes("new a") || members[0].Data == Bytes("old a"));
    WriteArchive(Folder.Map(L"north.zip"), {{L"a.txt", Bytes("old a")}});
    EXPECT_TRUE(Raised.empty());
  }
  RemoveRootFiles({});
}

// The run stops while its files are being put in place: dropped by the
// window, or failed by one of them. Once the window has dropped it, or it
// has reported its end, no file of it moves any more.
TEST_F(MapDownloadTest, NoFileMovesIntoPlaceAfterTheRunStoppedOrEnded) {
  constexpr int kFiles = 40;
  std::vector<std::wstring> names, paths;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back(L"s" + std::to_wstring(i) + L".txt");
    paths.push_back(L"/" + names.back());
    Put(kRaw + "/s" + std::to_string(i) + ".txt", 200, std::vector<uint8_t>(48 * 1024, static_cast<uint8_t>('a' + i % 26)));
  }
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE(round);
    // A dropped run's closed exchanges may still be on their way out: each round counts only its own.
    ASSERT_TRUE(MainThread::PumpUntil([] { return TExchangeSet::WaitForAllFreed(0); }, 60000));
    for (const std::wstring& name : names) {
      TFileStream old(Folder.Path() + L"\\" + name, fmCreate);
      old.WriteBuffer("old", 3);
    }
    const bool dropped = round % 2 == 0;
    const int at = 1 + (round * 7) % 30;
    const std::string failing = "/s" + std::to_string(at) + ".txt";
    if (!dropped) Put(kRaw + failing, 404, Bytes("404: Not Found"));

    auto run = StartRun(paths);
    TFiles atStop;
    bool freedAtEnd = false;
    if (dropped) {
      ASSERT_TRUE(MainThread::PumpUntil(
          [&] { return !run->Events.Progress.empty() && run->Events.Progress.back().first >= at; }, 60000));
      run->Run.reset();
      atStop = InstalledFiles(Folder.Path());
    } else {
      run->Events.Then = [&] {
        if (run->Events.Ends.empty()) return;
        // The last handler lets go on its worker a moment after the set heard of it.
        freedAtEnd = TExchangeSet::WaitForAllFreed(2000);
        atStop = InstalledFiles(Folder.Path());
      };
      ASSERT_TRUE(MainThread::PumpUntil([&] { return !run->Events.Ends.empty(); }, 60000));
      EXPECT_TRUE(freedAtEnd);
      ASSERT_EQ(run->Events.Failures.size(), 1u);
      EXPECT_NE(run->Events.Failures[0].find(L"[404]"), std::wstring::npos);
      run.reset();
    }
    AwaitExchangesFreed();
    EXPECT_EQ(InstalledFiles(Folder.Path()), atStop);
    EXPECT_EQ(TemporaryFiles(Folder.Path()), std::vector<std::wstring>{});
    for (int i = 0; i < kFiles; ++i) {
      const auto now = FileBytes(Folder.Path() + L"\\" + names[static_cast<size_t>(i)]);
      EXPECT_TRUE(now == Bytes("old") || now == std::vector<uint8_t>(48 * 1024, static_cast<uint8_t>('a' + i % 26)))
          << i;
    }
    if (!dropped) Put(kRaw + failing, 200, std::vector<uint8_t>(48 * 1024, static_cast<uint8_t>('a' + at % 26)));
    EXPECT_TRUE(Raised.empty());
  }
  RemoveRootFiles(names);
}
