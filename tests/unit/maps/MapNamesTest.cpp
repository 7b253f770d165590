// Piece names, the names accepted from the repository, and the map format of
// a settings.ini.
#include <gtest/gtest.h>

#include "MapTestSupport.h"
#include "maps/MapFormat.h"

TEST(MapPieceNameTest, ColumnRowAndExtensionComeFromTheName) {
  struct Case {
    const wchar_t* Name;
    bool Valid;
    int32_t Column, Row;
    const wchar_t* Extension;
  } cases[] = {
      {L".part_2_1.png", true, 2, 1, L"png"},
      {L".part_0_3_extra_9.jpg", true, 0, 3, L"jpg"},  // further fields ignored
      {L".part_1_0.PNG", true, 1, 0, L"png"},
      {L".part_12_7.bmp", true, 12, 7, L"bmp"},  // grid limits are the loader's
      {L".part_1_0.tar.gz", false, 0, 0, L""},   // "tar" is no row
      {L".part_1.png", false, 0, 0, L""},
      {L".part__1.png", false, 0, 0, L""},
      {L".part_a_1.png", false, 0, 0, L""},
      {L".part_-1_0.png", false, 0, 0, L""},
      {L".part_1_0", false, 0, 0, L""},
      {L".part_99999999_0.png", false, 0, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_TRUE(IsMapPiece(c.Name));
    auto piece = ParseMapPieceName(c.Name);
    ASSERT_EQ(piece.has_value(), c.Valid);
    if (!c.Valid) continue;
    EXPECT_EQ(piece->Column, c.Column);
    EXPECT_EQ(piece->Row, c.Row);
    EXPECT_EQ(piece->Extension, c.Extension);
  }
  // The prefix test is case-sensitive.
  EXPECT_FALSE(IsMapPiece(L".PART_1_0.png"));
  EXPECT_FALSE(IsMapPiece(L"settings.ini"));
  EXPECT_FALSE(ParseMapPieceName(L"part_1_0.png").has_value());
}

TEST(MapPieceNameTest, RepositoryNamesCannotLeaveTheMap) {
  struct Case {
    const wchar_t* Name;
    bool File, Map;
  } cases[] = {
      {L"settings.ini", true, true},
      {L"sounds/wind.ogg", true, false},
      {L"..", false, false},
      {L"../north.zip", false, false},
      {L"a/../../b", false, false},
      {L"a\\b.txt", false, false},
      {L"..\\..\\evil", false, false},
      {L"/abs.txt", false, false},
      {L"a//b", false, false},
      {L"", false, false},
      {L"c:evil", true, false},
      {L"..hidden", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(IsSafeMapFileName(c.Name), c.File);
    EXPECT_EQ(IsSafeMapName(c.Name), c.Map);
  }
}

TEST(MapFormatTest, SettingsNameTheFormatInAnyCaseWithBmpAsDefault) {
  struct Case {
    const char* Label;
    std::string Text;
    const wchar_t* Format;
  } cases[] = {
      {"plain", "[main]\r\nMapFormat=png\r\n", L"png"},
      {"key absent", "[main]\r\nName=North\r\n", L"bmp"},
      {"empty file", "", L"bmp"},
      {"any case", "[MAIN]\nmapformat = JPEG \n", L"jpeg"},
      {"other section", "[view]\r\nMapFormat=png\r\n[main]\r\nName=x\r\n", L"bmp"},
      {"after other sections", "[view]\nMapFormat=png\n[Main]\nMapFormat=Jpg\n", L"jpg"},
      {"UTF-8 mark", "\xEF\xBB\xBF[main]\r\nMapFormat=PNG\r\n", L"png"},
      {"UTF-16 mark", std::string("\xFF\xFE[\0m\0a\0i\0n\0]\0\n\0M\0a\0p\0F\0o\0r\0m\0a\0t\0=\0p\0n\0g\0", 42),
       L"png"},
      {"unknown value kept", "[main]\nMapFormat=GIF\n", L"gif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(MapFormatFromSettings(Bytes(c.Text)), c.Format);
  }
}

TEST(MapFormatTest, ReadFromTheArchiveMemberIgnoringItsNameCase) {
  TInstallFolder folder;
  std::wstring path = folder.Map(L"north.zip");
  WriteArchive(path, {{L"a.txt", Bytes("x")}, {L"Settings.INI", Bytes(IniText("PNG"))}});
  TZipFile archive;
  archive.Open(path, TZipMode::zmRead);
  EXPECT_EQ(ReadMapFormat(archive), L"png");
}
