// Packing a loaded map: members of this run first, then the old archive's
// members in its order, then the assembled image; <map>.zip replaced in one
// step, or left alone when the run failed.
#include <gtest/gtest.h>

#include "MapTestSupport.h"
#include "uDebugUtils.h"
#include "update/DownloadError.h"

namespace {
class MapPackingTest : public ::testing::Test {
 protected:
  TInstallFolder Folder;
  TFakeMapHost Host{Folder.Path()};
  std::shared_ptr<TMapLoader> Map;

  // Loads the files through the host; the map is then waiting for the packer.
  void Load(const std::wstring& name, const std::map<std::wstring, std::vector<uint8_t>>& files,
            std::initializer_list<const wchar_t*> deleted = {}) {
    Map = Host.NewLoader(name);
    for (const auto& [file, bytes] : files) {
      Map->FFilesList.insert(file);
      Host.Files[file] = {200, bytes};
    }
    for (const wchar_t* file : deleted) Map->FFilesToDelete.insert(file);
    Map->BeginLoading();
    Host.Serve(*Map);
    ASSERT_TRUE(Host.Failures.empty()) << Host.Failures.front()->Message();
    ASSERT_EQ(Host.Packed.size(), 1u);
  }
  std::vector<uint8_t> Png(int32_t w, int32_t h, uint32_t seed) {
    return EncodeImage(kPngGraphicClass, PatternBitmap(w, h, seed));
  }
  static void ExpectPixel(const TBitmap24& image, int32_t x, int32_t y, uint32_t seed, int32_t px, int32_t py) {
    uint8_t want[3];
    PatternPixel(seed, px, py, want);
    const uint8_t* got = image.Row(y) + x * 3;
    EXPECT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) << "pixel " << x << "," << y;
  }
};
}  // namespace

TEST_F(MapPackingTest, ChangedFilesComeFirstThenTheOldMembersWithTheOldImageUnchanged) {
  auto oldImage = EncodeImage(kBitmapGraphicClass, PatternBitmap(50, 4, 1));
  WriteArchive(Folder.Map(L"north.zip"), {{L"settings.ini", Bytes(IniText("bmp"))},
                                          {L"a.txt", Bytes("a")},
                                          {L"map.bmp", oldImage, zip::kMethodStored},
                                          {L"B.txt", Bytes("old b")},
                                          {L"c/d.txt", Bytes("d")}});
  Load(L"north", {{L"settings.ini", Bytes(IniText("bmp") + "Size=2\r\n")}, {L"b.txt", Bytes("new b")}});
  Map->Pack();

  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members),
            (std::vector<std::wstring>{L"b.txt", L"settings.ini", L"a.txt", L"map.bmp", L"c/d.txt"}));
  for (const TMember& m : members) EXPECT_EQ(m.Method, zip::kMethodDeflated) << m.Name;
  EXPECT_EQ(members[0].Data, Bytes("new b"));
  EXPECT_EQ(Find(members, L"map.bmp")->Data, oldImage) << "no image is encoded without pieces";
  EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
  EXPECT_TRUE(Host.Failures.empty());
}

TEST_F(MapPackingTest, RemovedFilesOnlyLeaveTheOldArchiveWithoutThem) {
  WriteArchive(Folder.Map(L"north.zip"),
               {{L"settings.ini", Bytes(IniText("png"))}, {L"gone.txt", Bytes("x")}, {L"kept.txt", Bytes("k")}});
  Load(L"north", {}, {L"GONE.TXT"});
  Map->Pack();
  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"kept.txt"}));
  EXPECT_EQ(members[1].Data, Bytes("k"));
}

TEST_F(MapPackingTest, NewPiecesOverTheOldBitmapAreStoredAsPngWhenTheFormatChanges) {
  WriteArchive(Folder.Map(L"north.zip"),
               {{L"settings.ini", Bytes(IniText("bmp"))},
                {L"map.bmp", EncodeImage(kBitmapGraphicClass, PatternBitmap(4500, 6, 1))},
                {L"notes.txt", Bytes("n")}});
  Load(L"north", {{L"settings.ini", Bytes(IniText("PNG"))}, {L".part_1_0.png", Png(300, 6, 2)}});
  EXPECT_EQ(TMapLoaderTestAccess::Width(*Map), 4300);
  EXPECT_EQ(TMapLoaderTestAccess::Height(*Map), 6);
  Map->Pack();

  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"notes.txt", L"map.png"}));
  EXPECT_EQ(members[2].Method, zip::kMethodStored);
  TBitmap24 image = DecodeImage(kPngGraphicClass, members[2].Data);
  ASSERT_EQ(image.Width(), 4300);
  ASSERT_EQ(image.Height(), 6);
  ExpectPixel(image, 10, 3, 1, 10, 3);        // from the old bitmap
  ExpectPixel(image, 3999, 5, 1, 3999, 5);
  ExpectPixel(image, 4005, 2, 2, 5, 2);       // from the piece
  ExpectPixel(image, 4299, 0, 2, 299, 0);
}

TEST_F(MapPackingTest, WithoutAnOldArchiveTheImageIsTheUnionOfThePieces) {
  Load(L"south", {{L"settings.ini", Bytes(IniText("jpg"))},
                  {L".part_0_0.png", Png(4000, 3, 1)},
                  {L".part_1_0.png", Png(200, 3, 2)}});
  Map->Pack();
  auto members = ReadArchive(Folder.Map(L"south.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"map.jpg"}));
  EXPECT_EQ(members[1].Method, zip::kMethodDeflated);
  TBitmap24 image = DecodeImage(kJPEGGraphicClass, members[1].Data);
  EXPECT_EQ(image.Width(), 4200);
  EXPECT_EQ(image.Height(), 3);
}

TEST_F(MapPackingTest, AnOldImageOfTheNewNameIsReplacedNotStoredTwice) {
  // Old settings that name no format cannot say which member is the image.
  WriteArchive(Folder.Map(L"north.zip"), {{L"Map.PNG", Png(10, 2, 1)}, {L"a.txt", Bytes("a")}});
  Load(L"north", {{L"settings.ini", Bytes(IniText("png"))}, {L".part_0_0.png", Png(20, 2, 2)}});
  Map->Pack();
  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"a.txt", L"map.png"}));
  EXPECT_EQ(DecodeImage(kPngGraphicClass, members[2].Data).Width(), 20);
}

TEST_F(MapPackingTest, AJpegMapFindsItsStoredImageForTheNextMerge) {
  WriteArchive(Folder.Map(L"north.zip"),
               {{L"settings.ini", Bytes(IniText("jpeg"))},
                {L"map.jpg", EncodeImage(kJPEGGraphicClass, PatternBitmap(4100, 8, 1))}});
  // A full-width piece does not narrow the image: only the old image makes it 4100 wide.
  Load(L"north", {{L".part_0_0.png", Png(4000, 8, 2)}});
  EXPECT_EQ(TMapLoaderTestAccess::Width(*Map), 4100) << "the old image was loaded into the canvas";
  Map->Pack();
  auto members = ReadArchive(Folder.Map(L"north.zip"));
  EXPECT_EQ(Names(members), (std::vector<std::wstring>{L"settings.ini", L"map.jpg"}));
  EXPECT_EQ(DecodeImage(kJPEGGraphicClass, members[1].Data).Width(), 4100);
}

TEST_F(MapPackingTest, AnErrorOfTheRunBeforeEncodingLeavesTheOldArchive) {
  WriteArchive(Folder.Map(L"north.zip"),
               {{L"settings.ini", Bytes(IniText("png"))}, {L"map.png", Png(30, 3, 1)}});
  auto before = FileBytes(Folder.Map(L"north.zip"));
  Load(L"north", {{L".part_0_0.png", Png(40, 3, 2)}});
  Host.Error = true;
  Map->Pack();
  EXPECT_EQ(FileBytes(Folder.Map(L"north.zip")), before);
  EXPECT_FALSE(Exists(Folder.Map(L"north.download"))) << "a cancelled map leaves no new archive behind";
  EXPECT_TRUE(Host.Failures.empty());
}

TEST_F(MapPackingTest, AStoppedPackerEndsTheEncodingAndLeavesTheOldArchive) {
  WriteArchive(Folder.Map(L"north.zip"),
               {{L"settings.ini", Bytes(IniText("png"))}, {L"map.png", Png(30, 3, 1)}});
  auto before = FileBytes(Folder.Map(L"north.zip"));
  Load(L"north", {{L".part_0_0.png", Png(40, 3, 2)}});
  EXPECT_THROW(Map->Pack([] { return true; }), EAbort);
  EXPECT_EQ(FileBytes(Folder.Map(L"north.zip")), before);
  EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
}

TEST_F(MapPackingTest, PiecesWithoutAKnownFormatAreAFailedStep) {
  struct Case {
    const char* Label;
    bool OldSettings;
    std::string NewSettings;  // empty: none in this run
  } cases[] = {
      {"no settings.ini anywhere", false, ""},
      {"unknown format", true, IniText("gif")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    Host.Failures.clear();
    Host.Packed.clear();
    std::vector<TMember> old = {{L"a.txt", Bytes("a")}};
    if (c.OldSettings) old.push_back({L"settings.ini", Bytes(IniText("png"))});
    WriteArchive(Folder.Map(L"north.zip"), old);
    auto before = FileBytes(Folder.Map(L"north.zip"));
    std::map<std::wstring, std::vector<uint8_t>> files = {{L".part_0_0.png", Png(8, 2, 1)}};
    if (!c.NewSettings.empty()) files[L"settings.ini"] = Bytes(c.NewSettings);
    Load(L"north", files);
    EXPECT_THROW(Map->Pack(), EDownloadError);
    EXPECT_FALSE(Exists(Folder.Map(L"north.download")));
    Map.reset();
    EXPECT_EQ(FileBytes(Folder.Map(L"north.zip")), before);
  }
}

TEST_F(MapPackingTest, AnArchiveThatCannotBeReplacedIsReportedAndKept) {
  WriteArchive(Folder.Map(L"north.zip"), {{L"a.txt", Bytes("a")}});
  Load(L"north", {{L"b.txt", Bytes("b")}});
  {
    // The game holds the archive open and lets nobody delete it.
    UniqueFileHandle held(CreateFileW(Folder.Map(L"north.zip").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_THROW(Map->Pack(), EDownloadError);
  }
  EXPECT_EQ(Names(ReadArchive(Folder.Map(L"north.zip"))), std::vector<std::wstring>{L"a.txt"});
  EXPECT_FALSE(Exists(Folder.Map(L"north.download"))) << "the new archive went with the failed step";
}

TEST_F(MapPackingTest, TheLogFollowsTheMapFromItsFirstDownloadToItsPacking) {
  std::wstring logFile = Folder.Map(L"launcher.log");
  SetGlobalLogger(std::make_unique<TLogger>(logFile, 1 << 20));
  WriteArchive(Folder.Map(L"north.zip"), {{L"old.txt", Bytes("o")}});
  Load(L"north", {{L"settings.ini", Bytes(IniText("png"))}, {L".part_0_0.png", Png(5, 2, 1)}});
  Map->Pack();
  SetGlobalLogger(nullptr);

  auto bytes = FileBytes(logFile);
  std::string log(bytes.begin(), bytes.end());
  size_t at = 0;
  for (const char* line : {"Update: Begin map loading:north\r\n", "Update: Map:north. Need merge\r\n",
                           "Update: Begin load map file: north\\.part_0_0.png\r\n",
                           "Update: End load map image file: north\\.part_0_0.png\r\n",
                           "Update: Begin load map file: north\\settings.ini\r\n",
                           "Update: End load map file: north\\settings.ini\r\n",
                           "Update: Map loading finished: north\r\n", "Update: Begin map packing: north\r\n",
                           "Update: Repack map file: north\\old.txt\r\n", "Update: Repack map image: north\r\n",
                           "Update: End map packing: north\r\n"}) {
    size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nlog:\n" << log;
    at = found + 1;
  }
}
