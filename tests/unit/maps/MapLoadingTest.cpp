// The loading chain of one map, driven by a host that serves the files from
// memory: members stream into <map>.download, pieces land on the canvas, and
// every map ends once: handed on to the packer, or failed.
#include <gtest/gtest.h>

#include "MapTestSupport.h"
#include "update/DownloadError.h"

namespace {
class MapLoadingTest : public ::testing::Test {
 protected:
  TInstallFolder Folder;
  TFakeMapHost Host{Folder.Path()};

  std::shared_ptr<TMapLoader> Loader(const std::wstring& name, std::initializer_list<const wchar_t*> files) {
    auto loader = Host.NewLoader(name);
    for (const wchar_t* f : files) loader->FFilesList.insert(f);
    return loader;
  }
  void Piece(const std::wstring& name, const TGraphicClass& kind, int32_t width, int32_t height, uint32_t seed) {
    Host.Files[name] = {200, EncodeImage(kind, PatternBitmap(width, height, seed))};
  }
  // The one failure the window was told of.
  const Exception& OnlyFailure() {
    EXPECT_EQ(Host.Failures.size(), 1u);
    static Exception none(L"none");
    return Host.Failures.empty() ? none : *Host.Failures.front();
  }
};
}  // namespace

TEST_F(MapLoadingTest, MembersStreamIntoTheNewArchiveOneAfterAnotherInSortedOrder) {
  auto loader = Loader(L"north", {L"settings.ini", L"b/Deep.txt", L"A.txt"});
  Host.Files[L"A.txt"] = {200, Bytes("first")};
  Host.Files[L"b/Deep.txt"] = {200, Bytes("second")};
  Host.Files[L"settings.ini"] = {200, Bytes(IniText("bmp"))};
  loader->BeginLoading();
  EXPECT_EQ(Host.Ends, 0);
  Host.Serve(*loader);

  EXPECT_EQ(Host.Requested, (std::vector<std::wstring>{L"north/A.txt", L"north/b/Deep.txt", L"north/settings.ini"}));
  EXPECT_EQ(Host.Progress, 3);
  ASSERT_EQ(Host.Packed, std::vector<TMapLoader*>{loader.get()});
  EXPECT_EQ(Host.Ends, 1);
  EXPECT_FALSE(TMapLoaderTestAccess::HasCanvas(*loader));
  TMapLoaderTestAccess::CloseArchive(*loader);
  auto members = ReadArchive(Folder.Map(L"north.download"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"A.txt", L"b/Deep.txt", L"settings.ini"}));
  EXPECT_EQ(members[1].Data, Bytes("second"));
  EXPECT_EQ(members[1].Method, zip::kMethodDeflated);
}

TEST_F(MapLoadingTest, AMapThatOnlyLosesFilesGoesStraightToThePacker) {
  auto loader = Loader(L"north", {});
  loader->FFilesToDelete.insert(L"old.txt");
  loader->BeginLoading();
  EXPECT_TRUE(Host.Requested.empty());
  EXPECT_EQ(Host.Progress, 1);
  EXPECT_EQ(Host.Packed.size(), 1u);
  EXPECT_EQ(Host.Ends, 1);
  EXPECT_TRUE(Exists(Folder.Map(L"north.download")));
}

TEST_F(MapLoadingTest, PiecesOfFullColumnsAndANarrowerLastColumnMakeTheImage) {
  auto loader = Loader(L"north", {L".part_0_0.png", L".part_1_0.bmp", L".part_0_1.jpg", L".part_1_1.png"});
  Piece(L".part_0_0.png", kPngGraphicClass, 4000, 3, 1);
  Piece(L".part_1_0.bmp", kBitmapGraphicClass, 700, 3, 2);
  Piece(L".part_0_1.jpg", kJPEGGraphicClass, 4000, 2, 3);
  Piece(L".part_1_1.png", kPngGraphicClass, 700, 2, 4);
  loader->BeginLoading();
  Host.Serve(*loader);
  ASSERT_TRUE(Host.Failures.empty()) << Host.Failures.front()->Message();
  EXPECT_EQ(Host.Progress, 4);
  // Every short piece sets the lower edge; the last one loaded lies in row 1.
  EXPECT_EQ(TMapLoaderTestAccess::Width(*loader), 4700);
  EXPECT_EQ(TMapLoaderTestAccess::Height(*loader), 4002);
  EXPECT_EQ(Host.Packed.size(), 1u);
}

TEST_F(MapLoadingTest, WidthAndHeightFollowTheLastColumnAndRowRules) {
  struct Case {
    const wchar_t* Name;
    int32_t StartWidth, StartHeight, PieceWidth, PieceHeight, Width, Height;
  } cases[] = {
      {L".part_0_0.png", 0, 0, 4000, 7, 4000, 7},
      {L".part_1_0.png", 4000, 7, 1000, 7, 5000, 7},
      // The map became narrower: the canvas beyond is no longer image.
      {L".part_2_0.png", 16000, 7, 3000, 7, 11000, 7},
      // A full-width piece only widens.
      {L".part_0_0.png", 9000, 7, 4000, 7, 9000, 7},
      {L".part_3_0.png", 0, 0, 4000, 7, 16000, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto owner = Host.NewLoader(L"north");
    TMapLoader& loader = *owner;
    TMapLoaderTestAccess::GiveCanvas(loader, c.StartWidth, c.StartHeight);
    TMemoryStream piece;
    auto bytes = EncodeImage(kPngGraphicClass, PatternBitmap(c.PieceWidth, c.PieceHeight, 5));
    piece.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    TMapLoaderTestAccess::PlacePiece(loader, c.Name, piece);
    EXPECT_EQ(TMapLoaderTestAccess::Width(loader), c.Width);
    EXPECT_EQ(TMapLoaderTestAccess::Height(loader), c.Height);
  }
}

TEST_F(MapLoadingTest, PiecesOutsideTheGridOrTheCanvasAreAFailedStep) {
  struct Case {
    const wchar_t* Name;
    int32_t Width;
  } cases[] = {
      {L".part_4_0.png", 10},     // fifth column
      {L".part_0_4.png", 10},     // fifth row
      {L".part_3_0.png", 4001},   // one pixel beyond the canvas
      {L".part_0_0.png", 4001},   // wider than a piece: it would paint over its neighbour
      {L".part_x_0.png", 10},     // no column
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeMapHost host(Folder.Path());
    auto loader = host.NewLoader(L"north");
    loader->FFilesList.insert(c.Name);
    host.Files[c.Name] = {200, EncodeImage(kPngGraphicClass, PatternBitmap(c.Width, 2, 1))};
    loader->BeginLoading();
    host.Serve(*loader);
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_TRUE(host.Failures[0]->Is<EDownloadError>()) << host.Failures[0]->Message();
    EXPECT_EQ(host.Ends, 1);
    EXPECT_TRUE(host.Packed.empty());
    EXPECT_EQ(TMapLoaderTestAccess::Width(*loader), 0);
  }
}

TEST_F(MapLoadingTest, AFailedReplyIsAFailedStepAndStoresNoEmptyMember) {
  for (const wchar_t* missing : {L"b.txt", L".part_0_0.png"}) {
    SCOPED_TRACE(missing);
    TFakeMapHost host(Folder.Path());
    WriteArchive(Folder.Map(L"north.zip"), {{L"b.txt", Bytes("old")}});
    auto before = FileBytes(Folder.Map(L"north.zip"));
    auto loader = host.NewLoader(L"north");
    loader->FFilesList = {L"a.txt", missing};
    host.Files[L"a.txt"] = {200, Bytes("new")};
    host.Files[missing] = {404, Bytes("Not Found")};
    loader->BeginLoading();
    host.Serve(*loader);
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_TRUE(host.Failures[0]->Is<EDownloadError>());
    EXPECT_NE(host.Failures[0]->Message().find(L"[404]"), std::wstring::npos) << host.Failures[0]->Message();
    EXPECT_EQ(host.Ends, 1);
    EXPECT_TRUE(host.Packed.empty());
    EXPECT_FALSE(Exists(Folder.Map(L"north.download"))) << "a failed map leaves no new archive behind";
    loader.reset();
    EXPECT_EQ(FileBytes(Folder.Map(L"north.zip")), before);
  }
}

TEST_F(MapLoadingTest, NamesThatLeaveTheMapAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const wchar_t* Map;
    const wchar_t* File;
  } cases[] = {{L"north", L"../south/settings.ini"}, {L"north", L"a\\b.txt"}, {L"..", L"a.txt"},
               {L"..\\..\\x", L"a.txt"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.Map) + L" " + c.File);
    TFakeMapHost host(Folder.Path());
    auto owner = host.NewLoader(c.Map);
    TMapLoader& loader = *owner;
    loader.FFilesList.insert(c.File);
    loader.BeginLoading();
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_TRUE(host.Failures[0]->Is<EDownloadError>());
    EXPECT_EQ(host.Ends, 1);
    EXPECT_TRUE(host.Requested.empty());
  }
  EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
}

TEST_F(MapLoadingTest, AnErrorOfTheRunCancelsTheMapAtItsNextCompletion) {
  for (const wchar_t* second : {L"b.txt", L".part_0_0.png"}) {
    SCOPED_TRACE(second);
    TFakeMapHost host(Folder.Path());
    auto loader = host.NewLoader(L"north");
    loader->FFilesList = {L"a.txt", second};
    host.Files[L"a.txt"] = {200, Bytes("a")};
    host.Files[second] = {200, EncodeImage(kPngGraphicClass, PatternBitmap(4, 4, 1))};
    loader->BeginLoading();
    host.Serve(*loader, 1);
    host.Error = true;
    host.Serve(*loader);
    // The cancel is a failure of its own kind: the run says nothing of it.
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_TRUE(host.Failures[0]->Is<EAbort>());
    EXPECT_EQ(host.Ends, 1);
    EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
    EXPECT_TRUE(host.Packed.empty());
    EXPECT_EQ(host.Progress, 1);
  }
}

// The run closed the member's exchange and the map failed while the body was
// still arriving: the bytes that come afterwards land in the new archive,
// which stays until the exchange writing it lets go, and only then goes.
TEST_F(MapLoadingTest, AFailedMapsArchiveStaysUntilTheExchangeWritingItLetsGo) {
  auto loader = Loader(L"north", {L"a.txt"});
  loader->BeginLoading();
  TFakeMapHost::TPending pending = Host.TakePending();
  TFakeMapHost::SetStatus(*pending.Response, 200);
  const std::string half(70000, 'h');
  pending.Response->ReceiveData(half.data(), static_cast<uint32_t>(half.size()));
  pending.Done(std::make_shared<EAbort>(L"The exchange was closed"));
  ASSERT_EQ(Host.Failures.size(), 1u);
  EXPECT_TRUE(Host.Failures[0]->Is<EAbort>());
  loader.reset();
  EXPECT_TRUE(Exists(Folder.Map(L"north.download")));

  pending.Response->ReceiveData(half.data(), static_cast<uint32_t>(half.size()));
  EXPECT_NO_THROW(pending.Arrived(*pending.Response));
  pending.Response.reset();
  EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
  // The exchange's handlers held the loader; it goes with them.
  pending.Arrived = nullptr;
  EXPECT_EQ(Host.Ends, 1);
  EXPECT_TRUE(Host.Packed.empty());
}
