// The incremental path in the run: a refused change list, the commit chain.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Utf8.h"
#include "RunTestSupport.h"
#include "update/ChangeList.h"
#include "update/DownloadError.h"

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

TEST(ChangeList, PathsThatCouldLeaveTheFolderAreRejectedBeforeAnyChange) {
  // The lines themselves are the change list's rules; here the run applies none of the list.
  const wchar_t* lines[] = {L"A\t../outside.txt", L"R100\tok.txt"};
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
