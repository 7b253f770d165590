// Rules of repository paths, change lists, tree replies and zip member names
// that run natively with sanitizers as well as under Wine.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ZipNames.h"
#include "update/ChangeList.h"
#include "update/DownloadError.h"
#include "update/RepositoryPaths.h"
#include "update/TreeReply.h"
#include "update/WalkedPaths.h"

namespace {

TEST(CoreRepositoryPaths, SafePathsStayInsideTheFolder) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"/data/maps/north/settings.ini", true},
      {L"/data/maps/north/.part_0_0.png", true},
      {L"/Launcher.exe", true},
      {L"/a b/c d.txt", true},
      {L"/data/", true},
      {L"/файлы/карта.png", true},
      {L"", false},
      {L"/", false},
      {L"data/x", false},
      {L"/../x", false},
      {L"/a/../x", false},
      {L"/data/../../x", false},
      {L"/./x", false},
      {L"/a/./x", false},
      {L"/a//x", false},
      {L"/a\\x", false},
      {L"/a\\..\\b", false},
      {L"/c:x", false},
      {L"/C:/Windows/x", false},
      {L"/file.txt:stream", false},
      // Windows drops a trailing dot or blank: "mods." would name "mods".
      {L"/mods./x", false},
      {L"/data/campanings/mods./x", false},
      {L"/data/campanings/mods /x", false},
      {std::wstring(L"/a\x01"), false},
  };
  for (const auto& [path, safe] : cases) EXPECT_EQ(IsSafeRepositoryPath(path), safe) << testing::PrintToString(path);
}

TEST(CoreRepositoryPaths, PlayerSubtreeIgnoresCase) {
  EXPECT_TRUE(IsInPlayerSubtree(L"/data/campanings/mods/a.txt"));
  EXPECT_TRUE(IsInPlayerSubtree(L"/DATA/Campanings/MODS/a.txt"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/mods"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/modsx/a"));
  EXPECT_FALSE(IsInPlayerSubtree(L"/data/campanings/other.txt"));
}

TEST(CoreWalkedPaths, OnlyPathsInsideTheFolderPass) {
  for (const wchar_t* path : {L"/a", L"/.last", L"/data/maps/north/.part_0_0.png", L"/a..b/c", L"/к/ж.txt"})
    EXPECT_NO_THROW(CheckWalkedPath(path)) << testing::PrintToString(std::wstring(path));
  for (const wchar_t* path : {L"", L"/", L"a", L"/..", L"/a/../b", L"/a\\b", L"/c:", L"/a//b", L"/a/", L"/./a",
                              L"/a./b", L"/a /b"})
    EXPECT_THROW(CheckWalkedPath(path), EDownloadError) << testing::PrintToString(std::wstring(path));
}

TEST(CoreChangeList, QuotedFieldsLoseQuotesAndEscapes) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"data/a b.txt", L"/data/a b.txt"},
      {L"data/maps/north/settings.ini", L"/data/maps/north/settings.ini"},
      // Escapes count only inside quotes.
      {L"plain \\320 stays", L"/plain \\320 stays"},
      {L"\"data/\\320\\272\\320\\260\\321\\200\\321\\202\\320\\260.ini\"", L"/data/карта.ini"},
      {L"\"data/\\320\\272.txt\"", L"/data/к.txt"},
      // Four bytes of UTF-8 become a surrogate pair, as Windows holds them.
      {L"\"\\342\\202\\254 \\360\\237\\230\\200\"", L"/\u20AC \xD83D\xDE00"},
      {L"\"tab\\there\"", L"/tab\there"},
      {L"\"q\\\"uote\\\\\"", L"/q\"uote\\"},
      {L"\"back\\\\slash\"", L"/back\\slash"},
      {L"\"\"", L"/"},
      // An escape that is not one stays as it is.
      {L"\"a\\qb\"", L"/a\\qb"},
      {L"\"a\\4\"", L"/a\\4"},
  };
  for (const auto& [field, path] : cases) EXPECT_EQ(UnquoteChangePath(field), path) << testing::PrintToString(field);
}

TEST(CoreChangeList, LinesBecomeDownloadsAndDeletions) {
  using TPaths = std::set<std::wstring>;
  const struct {
    const char* what;
    std::wstring body;
    TPaths download;
    TPaths remove;
  } cases[] = {
      {"deleted", L"D\tgone.txt\n", {}, {L"/gone.txt"}},
      {"renamed", L"R100\told.txt\tnew.txt", {L"/new.txt"}, {L"/old.txt"}},
      {"added and modified", L"A\tdata/a.txt\nM\tb.txt\n", {L"/data/a.txt", L"/b.txt"}, {}},
      {"copied: the new path arrives", L"C75\ta.txt\tcopy.txt", {L"/copy.txt"}, {}},
      {"type change counts as a change", L"T\tlink", {L"/link"}, {}},
      {"no tab: the whole line is the path", L"readme.txt", {L"/readme.txt"}, {}},
      {"CR, LF, CRLF and empty lines", L"A\ta\r\nM\tb\rD\tc\n\n\r\n\r\rA\td", {L"/a", L"/b", L"/d"}, {L"/c"}},
      {"quoted octal path", L"A\t\"data/\\320\\272.txt\"", {L"/data/к.txt"}, {}},
      {"quoted rename", L"R090\t\"\\320\\272.txt\"\t\"new \\\"x\\\".txt\"", {L"/new \"x\".txt"}, {L"/к.txt"}},
      {"player subtree untouched",
       L"A\tdata/campanings/mods/x.txt\nD\tDATA/Campanings/MODS/y.txt\nR100\tdata/campanings/mods/a\tdata/b",
       {L"/data/b"},
       {}},
      {"deleted then re-added: download only", L"D\tx.txt\nA\tx.txt", {L"/x.txt"}, {}},
      {"added then deleted, other case: delete only", L"A\tx.txt\nD\tX.TXT", {}, {L"/X.TXT"}},
      {"rename back and forth", L"R100\ta\tb\nR100\tb\ta", {L"/a"}, {L"/b"}},
  };
  for (const auto& c : cases) {
    TSortedStringList download, remove;
    for (const TChangeOperation& op : ParseChangeList(c.body)) {
      if (op.Kind == TChangeOperation::coDelete) {
        MarkPathForDelete(op.Path, download, remove);
      } else {
        MarkPathForDownload(op.Path, download, remove);
      }
    }
    EXPECT_EQ(TPaths(download.begin(), download.end()), c.download) << c.what;
    EXPECT_EQ(TPaths(remove.begin(), remove.end()), c.remove) << c.what;
  }
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
  // One line that could leave the folder refuses the whole list.
  const wchar_t* refused[] = {
      L"A\t../outside.txt",       L"D\tdata/../../x",           L"A\tdata\\x.txt",
      L"A\tC:/Windows/x.dll",     L"A\tdata//x",                L"A\tdata/",
      L"D\t\"..\\057x\"",         L"D\t\"a/\\056\\056/b\"",     L"R100\tok.txt",
      L"A\t\"x\\000y\"",          L"A\tdata/./x",               L"A\tdata/campanings/mods./x",
      L"A\t",
  };
  for (const wchar_t* line : refused) {
    const std::wstring body = std::wstring(L"A\tfirst.txt\n") + line + L"\nD\tlast.txt";
    try {
      ParseChangeList(body);
      ADD_FAILURE() << testing::PrintToString(std::wstring(line)) << ": accepted";
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message(), L"Неожиданная ошибка!") << testing::PrintToString(std::wstring(line));
    }
  }
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
  for (const wchar_t* body :
       {L"", L"[]", L"[1,2]", L"{}", L"{\"sha\":\"x\"}", L"{\"tree\":{}}", L"{\"tree\":[1]}", L"{\"tree\":["})
    EXPECT_THROW(ParseTreeReply(body), EDownloadError) << testing::PrintToString(std::wstring(body));
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
