#include "install/OwnedFiles.h"

#include <functional>

namespace {

// About 1.5 s in all: long enough for a scan or a preview to let go, short
// enough that a file held for good is reported soon.
constexpr DWORD kPausesMs[] = {50, 100, 200, 300, 400, 450};
constexpr DWORD kAttributesToClear = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsHeld(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Runs the call until it succeeds or fails for another reason than a held
// file; an access denial first clears the attributes of the file it concerns.
DWORD RetryWhileHeld(const std::function<BOOL()>& call, const std::wstring& file) {
  bool madePlain = false;
  DWORD error = ERROR_SUCCESS;
  for (size_t attempt = 0;; ++attempt) {
    if (call()) return ERROR_SUCCESS;
    error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && !madePlain) {
      madePlain = true;
      if (MakePlainFile(file)) continue;
    }
    if (!IsHeld(error) || attempt >= std::size(kPausesMs)) return error;
    Sleep(kPausesMs[attempt]);
  }
}

}  // namespace

bool MakePlainFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (!(attributes & kAttributesToClear)) return true;
  DWORD plain = attributes & ~kAttributesToClear;
  return SetFileAttributesW(path.c_str(), plain == 0 ? FILE_ATTRIBUTE_NORMAL : plain) != FALSE;
}

DWORD ReplaceOwnedFile(const std::wstring& source, const std::wstring& target, const TAttemptGuard& guard) {
  const std::function<BOOL()> move = [&] {
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  };
  return RetryWhileHeld([&] { return guard ? guard(move) : move(); }, target);
}

DWORD DeleteOwnedFile(const std::wstring& path) {
  const DWORD error = RetryWhileHeld([&] { return DeleteFileW(path.c_str()); }, path);
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}
