#include "update/InstalledFiles.h"

#include <windows.h>

#include <algorithm>

#include "Exceptions.h"
#include "install/OwnedFiles.h"
#include "update/RepositoryPaths.h"

namespace {

// The full path with every component in its long form; empty when the item
// does not exist.
std::wstring ResolvedPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  std::wstring longPath(full.size() + 1, L'\0');
  for (;;) {
    DWORD n = GetLongPathNameW(full.c_str(), longPath.data(), static_cast<DWORD>(longPath.size()));
    if (n == 0) return {};
    if (n < longPath.size()) {
      longPath.resize(n);
      return longPath;
    }
    longPath.resize(n);
  }
}

}  // namespace

TDeleteOutcome DeleteInstalledFile(const std::wstring& localPath, const std::wstring& path) {
  // A name such as "COM1" would reach a device, not a file.
  if (localPath.empty() || !IsSafeRepositoryPath(path) || FindWindowsNameFault(path) || IsInPlayerSubtree(path))
    return TDeleteOutcome::Refused;
  const std::wstring target = ResolvedPath(localPath + path);
  std::wstring root = ResolvedPath(localPath);
  // A path whose folders do not exist names no file.
  if (target.empty() || root.empty()) return TDeleteOutcome::Missing;
  if (root.back() != L'\\') root += L'\\';
  if (target.size() <= root.size() || !StartsWithNoCase(target, root)) return TDeleteOutcome::Refused;
  std::wstring relative = L"/" + target.substr(root.size());
  std::replace(relative.begin(), relative.end(), L'\\', L'/');
  if (IsInPlayerSubtree(relative)) return TDeleteOutcome::Refused;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return TDeleteOutcome::Missing;
  // A folder of that name is not a file the list meant.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TDeleteOutcome::Refused;
  const DWORD error = DeleteOwnedFile(target);
  if (error != ERROR_SUCCESS) RaiseFileOSError(error, target);
  return TDeleteOutcome::Deleted;
}
