#pragma once
// The formats of a launcher self-update: the repository's metadata reply and
// the switch that hands the run to the restarted launcher.
#include <cstdint>
#include <string>

struct TLauncherMetadata {
  std::string Sha;  // Git blob hash, as the reply writes it
  int64_t Size = 0;
  std::wstring DownloadURL;
};

// Raises EDownloadError "Неожиданная ошибка!" when the reply is not a JSON
// object with these three fields.
TLauncherMetadata ParseLauncherMetadata(const std::wstring& body);

// "/runupdate " + the branch in double quotes, inner double quotes doubled.
std::wstring RunUpdateParameters(const std::wstring& branch);
