// The incremental path: change-list lines, quoted paths, the commit chain.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Utf8.h"
#include "RunTestSupport.h"
#include "update/ChangeList.h"
#include "update/DownloadError.h"
#include "update/WalkedPaths.h"

namespace {

using TPaths = std::set<std::wstring>;

TPaths AsSet(const TSortedStringList& list) { return TPaths(list.begin(), list.end()); }

// Raises an EDownloadError with that message, or fails the test.
template <typename F>
void ExpectDownloadError(F call, const std::wstring& message, const std::string& what) {
  try {
    call();
    ADD_FAILURE() << what << ": no exception";
  } catch (const EDownloadError& e) {
    EXPECT_EQ(e.Message(), message) << what;
  }
}

TEST(ChangeList, LinesBecomeDownloadsAndDeletions) {
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
    EXPECT_EQ(AsSet(download), c.download) << c.what;
    EXPECT_EQ(AsSet(remove), c.remove) << c.what;
  }
}

TEST(ChangeList, UnquotedAndQuotedPaths) {
  const struct {
    std::wstring field;
    std::wstring path;
  } cases[] = {
      {L"data/maps/north/settings.ini", L"/data/maps/north/settings.ini"},
      {L"plain \\320 stays", L"/plain \\320 stays"},
      {L"\"data/\\320\\272.txt\"", L"/data/к.txt"},
      {L"\"tab\\there\"", L"/tab\there"},
      {L"\"back\\\\slash\"", L"/back\\slash"},
      {L"\"\\342\\202\\254 \\360\\237\\230\\200\"", L"/\u20AC \U0001F600"},
      {L"\"\"", L"/"},
  };
  for (const auto& c : cases) EXPECT_EQ(UnquoteChangePath(c.field), c.path);
}

TEST(ChangeList, PathsThatCouldLeaveTheFolderAreRejectedBeforeAnyChange) {
  const wchar_t* lines[] = {
      L"A\t../outside.txt",       L"D\tdata/../../x",           L"A\tdata\\x.txt",
      L"A\tC:/Windows/x.dll",     L"A\tdata//x",                L"A\tdata/",
      L"D\t\"..\\057x\"",         L"R100\tok.txt",              L"A\t\"x\\000y\"",
      L"A\tdata/./x",             L"A\tdata/campanings/mods./x", L"A\t",
  };
  for (const wchar_t* line : lines) {
    TTestRun run;
    TUpdateRun& launcher = *run;
    launcher.FFileListToDownload.insert(L"/kept");
    const std::wstring body = std::wstring(L"A\tfirst.txt\n") + line + L"\nD\tlast.txt";
    ExpectDownloadError([&] { launcher.OnChangesListLoaded(200, body); }, L"Неожиданная ошибка!",
                        ToUtf8(line));
    EXPECT_EQ(AsSet(launcher.FFileListToDownload), TPaths{L"/kept"});
    EXPECT_TRUE(launcher.FFileListToDelete.empty());
  }
}

TEST(WalkedPaths, OnlyPathsInsideTheFolderPass) {
  for (const wchar_t* path : {L"/a", L"/.last", L"/data/maps/north/.part_0_0.png", L"/a..b/c", L"/к/ж.txt"})
    EXPECT_NO_THROW(CheckWalkedPath(path)) << path;
  for (const wchar_t* path : {L"", L"/", L"a", L"/..", L"/a/../b", L"/a\\b", L"/c:", L"/a//b", L"/a/", L"/./a",
                              L"/a./b", L"/a /b"})
    EXPECT_THROW(CheckWalkedPath(path), EDownloadError) << path;
}

TEST(NextCommit, NewestCommitOfTheReplyOrAnError) {
  EXPECT_EQ(NextChangeListCommit(200, LR"([{"sha":"abc123"},{"sha":"def456"}])"), L"abc123");
  const struct {
    int32_t status;
    std::wstring body;
    std::wstring message;
  } failures[] = {
      {404, L"[{\"sha\":\"abc\"}]", L"Ошибка получения списка файлов!"},
      {500, L"", L"Ошибка получения списка файлов!"},
      {200, L"[]", L"Неожиданная ошибка!"},
      {200, L"not json", L"Неожиданная ошибка!"},
      {200, L"{\"sha\":\"abc\"}", L"Неожиданная ошибка!"},
      {200, L"[{\"node\":1}]", L"Неожиданная ошибка!"},
      {200, L"[{\"sha\":\"../x\"}]", L"Неожиданная ошибка!"},
  };
  for (const auto& f : failures)
    ExpectDownloadError([&] { NextChangeListCommit(f.status, f.body); }, f.message, std::to_string(f.status));
}

TEST(NextCommit, ChainThatComesBackToACommitEnds) {
  // The handler raises before it would ask for anything.
  TTestRun run;
  TUpdateRun& launcher = *run;
  launcher.FSettings.LastCommitHash = L"aaaa";
  launcher.FNewCommitHash = L"ffff";
  launcher.FChangeListChain = {L"aaaa", L"bbbb"};
  launcher.FProcessingHash = L"bbbb";
  ExpectDownloadError([&] { launcher.OnNextCommitLoaded(200, LR"([{"sha":"aaaa"}])"); },
                      L"Неожиданная ошибка!", "back to the installed commit");
  ExpectDownloadError([&] { launcher.OnNextCommitLoaded(200, LR"([{"sha":"bbbb"}])"); },
                      L"Неожиданная ошибка!", "the same commit again");
  ExpectDownloadError([&] { launcher.OnNextCommitLoaded(404, L""); }, L"Ошибка получения списка файлов!",
                      "failed request");
  EXPECT_EQ(launcher.FProcessingHash, L"bbbb");
}

TEST(NextCommit, ChainIsBounded) {
  std::vector<std::wstring> chain;
  for (size_t i = 0; i < kMaxChangeListRounds; ++i) ContinueChangeListChain(chain, std::to_wstring(i));
  EXPECT_THROW(ContinueChangeListChain(chain, L"one more"), EDownloadError);
}

}  // namespace
