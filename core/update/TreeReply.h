#pragma once
// The repository API's tree reply: the listing of one folder, or of a folder
// and everything below it.
#include <cstdint>
#include <string>
#include <vector>

struct TTreeEntry {
  std::wstring Path;  // relative to the listed folder, "/" separators
  std::wstring Type;  // "tree" for a folder; anything else is a file
  std::string Sha;    // Git blob hash, 40 lower-case hexadecimal digits
  int64_t Size = 0;
  std::wstring URL;   // the entry's own tree URL (folders)

  bool IsFolder() const { return Type == L"tree"; }
  bool IsSubmodule() const { return Type == L"commit"; }
};

struct TTreeReply {
  std::wstring Sha;
  std::vector<TTreeEntry> Tree;
  // The service left entries out of a long listing.
  bool Truncated = false;
};

// Raises EDownloadError "Неожиданная ошибка!" when the body is not a tree reply.
TTreeReply ParseTreeReply(const std::wstring& body);
