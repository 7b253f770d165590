#pragma once
// The installation's state file: UTF-16LE code units, no byte-order mark and
// no terminator, holding the installed commit, a TAB and the update channel.
#include <string>

inline constexpr wchar_t kDefaultBranch[] = L"main";
// A commit hash, a TAB and a channel name fit many times over.
inline constexpr size_t kLastFileSizeLimit = 4096;
inline constexpr wchar_t kLastFileDamaged[] = L"Файл .last повреждён.";
// Shown when the record holds no trustworthy version or channel.
inline constexpr wchar_t kLastFileUnreadable[] =
    L"Файл .last повреждён. Установленная версия и канал обновлений неизвестны: выберите канал и нажмите "
    L"«Обновить», игра будет проверена целиком.";

struct TLastFileContent {
  std::wstring CommitHash;
  std::wstring Branch;
};

// A trailing odd byte is ignored. Without a TAB the whole text is the commit
// and the channel is "main"; otherwise the channel is everything after the
// first TAB, unchanged.
TLastFileContent ParseLastFile(const std::string& bytes);
std::string FormatLastFile(const std::wstring& commitHash, const std::wstring& branch);

// False for a record that says nothing trustworthy: its commit is no commit
// hash or its channel no plain branch name. An empty record (a folder made
// ready for a first installation) is intact: no version yet.
bool IsIntactLastFile(const std::string& bytes);

// Channel names end up in URLs, in .last and in analytics: only letters,
// digits and "._-/" are taken.
bool IsSafeBranchName(const std::wstring& name);
