// Maps loaded over HTTP by a whole update run: the files come from a loopback
// server standing in for the raw-content host, the client is the real
// asynchronous one, the packer is the real thread, and every decision is
// taken where the run takes it, on this (the main) thread.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../http/TestServer.h"
#include "../launcher_update/RunTestSupport.h"
#include "HttpClient.h"
#include "MainThreadQueue.h"
#include "MapTestSupport.h"
#include "update/DownloadError.h"

namespace {
constexpr wchar_t kHead[] = L"c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00";

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
    if (found == Files().end()) return {404, {}, "404: Not Found"};
    return found->second;
  }
  static void Put(const std::string& path, int status, const std::vector<uint8_t>& body) {
    std::lock_guard<std::mutex> lock(FilesLock());
    Files()[path] = {status, {}, std::string(body.begin(), body.end())};
  }

  // A run over these repository paths, from its downloads to its end.
  std::unique_ptr<TTestRun> Run(std::initializer_list<const wchar_t*> paths) {
    TUpdateRunSettings settings;
    settings.LocalPath = Folder.Path();
    settings.Branch = L"qa";
    settings.LastCommitHash = L"0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0ld0";
    settings.NewCommitHash = kHead;
    settings.Client = std::make_shared<THTTPClient>(L"test", L"", L"", true);
    auto run = std::make_unique<TTestRun>(std::move(settings));
    for (const wchar_t* path : paths) (*run)->FFileListToDownload.insert(path);
    (*run)->Step([&] { (*run)->BeginFileLoading(); });
    EXPECT_TRUE(MainThread::PumpUntil([&] { return !run->Events.Ends.empty(); }, 60000));
    return run;
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
