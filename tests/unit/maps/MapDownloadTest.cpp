// A map loaded over HTTP through the launcher's own host: the files come from
// a loopback server standing in for the raw-content host, the window is a
// TfLauncher without its window, the packer is the real thread.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../http/TestServer.h"
#include "MainThreadQueue.h"
#include "MapTestSupport.h"
#include "maps/uMapPacker.h"
#include "uLauncher.h"
#include "update/DownloadError.h"

namespace {
// The launcher's host, with failures kept for the test instead of shown in a box.
class TRecordingLauncherHost : public TLauncherMapHost {
 public:
  void ReportRunFailure(std::shared_ptr<Exception> e) override {
    std::lock_guard<std::mutex> lock(Lock);
    Failures.push_back(std::move(e));
  }
  std::mutex Lock;
  std::vector<std::shared_ptr<Exception>> Failures;
};

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
    Launcher.FLocalPath = Folder.Path();
    Launcher.FCurrentBranch = L"qa";
    Launcher.CreateHttpClients();
    Launcher.FMapPacker = std::make_unique<TMapPacker>();
    // Held by the test, so that the run's count never reaches zero here.
    Launcher.IncrementActiveFiles();
    fLauncher = &Launcher;
  }
  void TearDown() override {
    Launcher.FMapPacker.reset();
    MainThread::ProcessPending();
    fLauncher = nullptr;
    MainThread::SetExceptionHandler(nullptr);
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

  // Loads and packs the map; true when its unit of open work came back.
  bool Run(TMapLoader& loader) {
    TMapLoaderTestAccess::SetHost(loader, Host);
    try {
      loader.BeginLoading();
    } catch (const EAbort&) {
    }
    return MainThread::PumpUntil([this] { return Launcher.FLoadingCount == 1; }, 60000);
  }

  TTestServer* Server = nullptr;
  TInstallFolder Folder;
  TfLauncher Launcher;
  TRecordingLauncherHost Host;
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
  TMapLoader loader(L"north");
  loader.FFilesList = {L"settings.ini", L"sub/two words.txt", L".part_0_0.png"};
  ASSERT_TRUE(Run(loader));

  EXPECT_TRUE(Host.Failures.empty());
  EXPECT_TRUE(Raised.empty());
  EXPECT_FALSE(Launcher.IsError());
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
  Put(base + "b.txt", 500, Bytes("Internal error"));
  TMapLoader loader(L"south");
  loader.FFilesList = {L"a.txt", L"b.txt"};
  ASSERT_TRUE(Run(loader));

  ASSERT_EQ(Host.Failures.size(), 1u);
  EXPECT_TRUE(Host.Failures[0]->Is<EDownloadError>());
  EXPECT_NE(Host.Failures[0]->Message().find(L"south/b.txt [500]"), std::wstring::npos);
  // The exchange itself ends silently: the failure was reported once.
  for (const auto& e : Raised) EXPECT_TRUE(e->GetBaseException().Is<EAbort>()) << e->GetBaseException().Message();
  EXPECT_EQ(FileBytes(Folder.Map(L"south.zip")), before);
}
