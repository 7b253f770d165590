#pragma once
// The installation's state file: UTF-16LE code units, no byte-order mark and
// no terminator, holding the installed commit, a TAB and the update channel.
#include <string>

inline constexpr wchar_t kDefaultBranch[] = L"main";

struct TLastFileContent {
  std::wstring CommitHash;
  std::wstring Branch;
};

// A trailing odd byte is ignored. Without a TAB the whole text is the commit
// and the channel is "main"; otherwise the channel is everything after the
// first TAB, unchanged.
TLastFileContent ParseLastFile(const std::string& bytes);
std::string FormatLastFile(const std::wstring& commitHash, const std::wstring& branch);
