// Rules of repository paths, change lists, tree replies and map names that
// run natively with sanitizers as well as under Wine.
#include <gtest/gtest.h>

#include "ZipNames.h"
#include "maps/MapPieceName.h"
#include "update/ChangeList.h"
#include "update/DownloadError.h"
#include "update/DownloadGrouping.h"
#include "update/RepositoryPaths.h"
#include "update/TreeReply.h"

namespace {

TEST(CoreRepositoryPaths, SafePathsStayInsideTheFolder) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"/data/maps/north/settings.ini", true}, {L"/Launcher.exe", true}, {L"/data/", true},
      {L"/файлы/карта.png", true},              {L"", false},              {L"/", false},
      {L"data/x", false},                       {L"/../x", false},         {L"/a/../x", false},
      {L"/a/./x", false},                       {L"/a//x", false},         {L"/a\\x", false},
      {L"/c:x", false},                         {L"/mods./x", false},      {L"/mods /x", false},
      {std::wstring(L"/a\x01"), false},
  };
  for (const auto& [path, safe] : cases) EXPECT_EQ(IsSafeRepositoryPath(path), safe) << testing::PrintToString(path);
}

TEST(CoreRepositoryPaths, PlayerSubtreeIgnoresCase) {
  EXPECT_TRUE(IsInPlayerSubtree(L"/data/campanings/mods/a.txt"));
  EXPECT_TRUE(IsInPlayerSubtree(L"/DATA/Campanings/MODS/a.txt"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/mods"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/modsx/a"));
}

TEST(CoreChangeList, QuotedFieldsLoseQuotesAndEscapes) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"data/a b.txt", L"/data/a b.txt"},
      {L"\"data/\\320\\272\\320\\260\\321\\200\\321\\202\\320\\260.ini\"", L"/data/карта.ini"},
      {L"\"tab\\there\"", L"/tab\there"},
      {L"\"q\\\"uote\\\\\"", L"/q\"uote\\"},
      // An escape that is not one stays as it is.
      {L"\"a\\qb\"", L"/a\\qb"},
      {L"\"a\\4\"", L"/a\\4"},
  };
  for (const auto& [field, path] : cases) EXPECT_EQ(UnquoteChangePath(field), path) << testing::PrintToString(field);
}

TEST(CoreChangeList, OperationsInOrderAndUnsafePathsRefused) {
  const auto ops = ParseChangeList(L"M\ta.txt\r\nD\told.txt\nR100\tfrom.txt\tto.txt\nC75\tsrc\tcopy\nplain\n");
  const std::vector<std::pair<TChangeOperation::TKind, std::wstring>> expected = {
      {TChangeOperation::coDownload, L"/a.txt"}, {TChangeOperation::coDelete, L"/old.txt"},
      {TChangeOperation::coDelete, L"/from.txt"}, {TChangeOperation::coDownload, L"/to.txt"},
      {TChangeOperation::coDownload, L"/copy"},   {TChangeOperation::coDownload, L"/plain"},
  };
  ASSERT_EQ(ops.size(), expected.size());
  for (size_t i = 0; i < ops.size(); ++i) {
    EXPECT_EQ(ops[i].Kind, expected[i].first) << i;
    EXPECT_EQ(ops[i].Path, expected[i].second) << i;
  }
  for (const wchar_t* body : {L"M\t../x", L"M\tok\nD\t\"a/\\056\\056/b\"", L"M\ta\\b", L"M\tdir/"})
    EXPECT_THROW(ParseChangeList(body), EDownloadError) << testing::PrintToString(std::wstring(body));
}

TEST(CoreChangeList, LastMarkWinsAndPlayerFilesAreLeftAlone) {
  TSortedStringList download, remove;
  MarkPathForDownload(L"/a", download, remove);
  MarkPathForDelete(L"/A", download, remove);
  MarkPathForDownload(L"/b", download, remove);
  MarkPathForDelete(L"/data/campanings/mods/x", download, remove);
  MarkPathForDownload(L"/data/campanings/mods/y", download, remove);
  EXPECT_EQ(download, (TSortedStringList{L"/b"}));
  // The list keeps the spelling of the mark that put the path there.
  EXPECT_EQ(remove, (TSortedStringList{L"/A"}));
}

TEST(CoreTreeReply, FieldsAndRefusals) {
  const TTreeReply reply = ParseTreeReply(
      LR"({"sha":"abc","truncated":true,"tree":[{"path":"data","type":"tree","sha":"1","url":"u"},)"
      LR"({"path":"карта.png","type":"blob","sha":"2","size":12}]})");
  EXPECT_EQ(reply.Sha, L"abc");
  EXPECT_TRUE(reply.Truncated);
  ASSERT_EQ(reply.Tree.size(), 2u);
  EXPECT_TRUE(reply.Tree[0].IsFolder());
  EXPECT_EQ(reply.Tree[0].URL, L"u");
  EXPECT_EQ(reply.Tree[1].Path, L"карта.png");
  EXPECT_EQ(reply.Tree[1].Size, 12);
  for (const wchar_t* body : {L"", L"[]", L"{}", L"{\"tree\":{}}", L"{\"tree\":[1]}", L"{\"tree\":["})
    EXPECT_THROW(ParseTreeReply(body), EDownloadError) << testing::PrintToString(std::wstring(body));
}

TEST(CoreDownloadGrouping, MapFilesGoToTheirMapsAndTheLauncherStaysOut) {
  TSortedStringList download{L"/Launcher.exe", L"/a.txt", L"/data/maps/north/settings.ini",
                             L"/data/maps/North/.part_0_0.png", L"/data/maps/south/x"};
  TSortedStringList remove{L"/data/maps/north/old", L"/data/maps/west/gone", L"/b.txt"};
  const TDownloadGrouping grouping = GroupDownloads(download, remove);
  EXPECT_TRUE(grouping.LauncherExcluded);
  EXPECT_EQ(download, (TSortedStringList{L"/a.txt"}));
  EXPECT_EQ(remove, (TSortedStringList{L"/b.txt"}));
  ASSERT_GE(grouping.Maps.size(), 2u);
  EXPECT_TRUE(zip::SameNameIgnoringCase(grouping.Maps[0].Name, L"north"));
  EXPECT_EQ(grouping.Maps[0].FilesToFetch.size(), 2u);
}

TEST(CoreMapPieceName, PiecesAndSafeNames) {
  const auto piece = ParseMapPieceName(L".part_2_3.PNG");
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->Column, 2);
  EXPECT_EQ(piece->Row, 3);
  EXPECT_EQ(piece->Extension, L"png");
  for (const wchar_t* name : {L".part_x_1.png", L".part_1.png", L".PART_1_0.png", L".part_1234567_0.png", L".part"})
    EXPECT_FALSE(ParseMapPieceName(name)) << testing::PrintToString(std::wstring(name));
  EXPECT_TRUE(IsSafeMapName(L"north"));
  for (const wchar_t* name : {L"", L".", L"..", L"a/b", L"a\\b", L"c:"}) EXPECT_FALSE(IsSafeMapName(name));
  EXPECT_TRUE(IsSafeMapFileName(L"sub/file.txt"));
  for (const wchar_t* name : {L"", L"../x", L"a//b", L"a\\b", L"a/"}) EXPECT_FALSE(IsSafeMapFileName(name));
}

TEST(CoreZipNames, Utf8AndCodePage437RoundTrips) {
  const std::wstring text = L"карта_é_€";
  EXPECT_EQ(zip::DecodeUtf8(zip::EncodeUtf8(text)), text);
  EXPECT_TRUE(zip::IsValidUtf8(zip::EncodeUtf8(text)));
  EXPECT_FALSE(zip::IsValidUtf8({0xC3}));
  EXPECT_FALSE(zip::IsValidUtf8({0xFF, 0x41}));
  EXPECT_EQ(zip::EncodeCp437(L"Çü€"), (std::vector<uint8_t>{0x80, 0x81, '?'}));
  EXPECT_EQ(zip::DecodeCp437({0x80, 0x81, 'a', 0xFF}), L"Çüa\u00A0");
}

}  // namespace
