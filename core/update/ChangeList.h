#pragma once
// The change lists of the incremental update: one text file per commit in
// the repository folder ".upgrade", in the format `git diff --name-status`
// prints, and the reply that names the commit whose list comes next.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "window/SortedStringList.h"

struct TChangeOperation {
  enum TKind { coDelete, coDownload };
  TKind Kind;
  std::wstring Path;  // repository path, leading "/"
};

// A path field of a change list as a repository path: a quoted field loses
// its quotes and its escapes (three octal digits stand for one byte of the
// UTF-8 text); "/" goes in front.
std::wstring UnquoteChangePath(const std::wstring& text);

// The operations of a change list in order. Raises EDownloadError
// "Неожиданная ошибка!" before returning anything when a path could name a
// file outside the installation folder.
std::vector<TChangeOperation> ParseChangeList(const std::wstring& body);

// The two list operations: the last change of a path wins. Paths in the
// player's subtree change nothing.
void MarkPathForDownload(const std::wstring& path, TSortedStringList& toDownload, TSortedStringList& toDelete);
void MarkPathForDelete(const std::wstring& path, TSortedStringList& toDownload, TSortedStringList& toDelete);

// The commit named by the reply to the commit-list request of a change list
// (element 0: the newest commit that touched it). Raises EDownloadError
// "Ошибка получения списка файлов!" for a failed request and
// "Неожиданная ошибка!" for an empty or unreadable list.
std::wstring NextChangeListCommit(int32_t status, const std::wstring& body);

// More rounds than any real history holds: the service is going in circles.
inline constexpr size_t kMaxChangeListRounds = 10000;

// Records that the chain goes on to commit; raises EDownloadError
// "Неожиданная ошибка!" when the chain met it before or grew too long.
void ContinueChangeListChain(std::vector<std::wstring>& chain, const std::wstring& commit);
