#include "update/InstalledFiles.h"

#include <windows.h>

#include <algorithm>

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

bool DeleteInstalledFile(const std::wstring& localPath, const std::wstring& path) {
  // A name such as "COM1" would reach a device, not a file.
  if (localPath.empty() || !IsSafeRepositoryPath(path) || FindWindowsNameFault(path) || IsInPlayerSubtree(path))
    return false;
  const std::wstring target = ResolvedPath(localPath + path);
  std::wstring root = ResolvedPath(localPath);
  if (target.empty() || root.empty()) return false;
  if (root.back() != L'\\') root += L'\\';
  if (target.size() <= root.size() || !StartsWithNoCase(target, root)) return false;
  std::wstring relative = L"/" + target.substr(root.size());
  std::replace(relative.begin(), relative.end(), L'\\', L'/');
  if (IsInPlayerSubtree(relative)) return false;
  return DeleteFileW(target.c_str()) != FALSE;
}
