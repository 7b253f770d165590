#include "LastFile.h"

#include "update/CommitHash.h"

TLastFileContent ParseLastFile(const std::string& bytes) {
  std::wstring text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto lo = static_cast<unsigned char>(bytes[i]);
    auto hi = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(static_cast<wchar_t>(lo | (hi << 8)));
  }
  TLastFileContent content;
  size_t tab = text.find(L'\t');
  if (tab == std::wstring::npos) {
    content.CommitHash = std::move(text);
    content.Branch = kDefaultBranch;
  } else {
    content.CommitHash = text.substr(0, tab);
    content.Branch = text.substr(tab + 1);
  }
  return content;
}

std::string FormatLastFile(const std::wstring& commitHash, const std::wstring& branch) {
  std::wstring text = commitHash + L'\t' + branch;
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF));
  }
  return bytes;
}

bool IsSafeBranchName(const std::wstring& name) {
  if (name.empty()) return false;
  for (wchar_t c : name) {
    bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
                 c == L'_' || c == L'-' || c == L'/';
    if (!plain) return false;
  }
  return true;
}

bool IsIntactLastFile(const std::string& bytes) {
  if (bytes.empty()) return true;
  const TLastFileContent content = ParseLastFile(bytes);
  return IsCommitHash(content.CommitHash) && IsSafeBranchName(content.Branch);
}
