#include "update/TemporaryFiles.h"

#include <windows.h>

#include "Exceptions.h"
#include "Handles.h"
#include "update/RepositoryPaths.h"

TTemporaryFile ClaimTemporaryFile(const std::wstring& localRoot, const std::wstring& repositoryPath,
                                  const TSortedStringList& runPaths) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int n = 0; n < kTemporaryNameAttempts; ++n) {
    const std::wstring name = repositoryPath + (n == 0 ? L"" : L"." + std::to_wstring(n)) + kTemporarySuffix;
    if (runPaths.count(name)) continue;
    const std::wstring local = localRoot + name;
    // CREATE_NEW: an installed file of that name is never overwritten.
    UniqueFileHandle file(CreateFileW(local.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return {local, std::move(file)};
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
  }
  RaiseLastOSError(error);
  return {};
}
