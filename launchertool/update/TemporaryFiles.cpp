#include "update/TemporaryFiles.h"

#include <windows.h>

#include <vector>

#include "Exceptions.h"
#include "Handles.h"
#include "Utf8.h"
#include "install/OwnedFiles.h"
#include "maps/TempFileStream.h"
#include "uDebugUtils.h"
#include "update/InstalledFiles.h"
#include "update/RepositoryPaths.h"

namespace {
// A list longer than this is not one the launcher wrote.
constexpr LONGLONG kRecordSizeLimit = 16 * 1024 * 1024;

bool IsTemporaryName(const std::wstring& path) {
  constexpr size_t suffix = std::size(kTemporarySuffix) - 1;
  return path.size() > suffix && EqualsNoCase(path.substr(path.size() - suffix), kTemporarySuffix);
}

std::vector<std::wstring> ReadRecord(const std::wstring& file) {
  UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!handle || !GetFileSizeEx(handle.get(), &size) || size.QuadPart > kRecordSizeLimit) return {};
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return {};
  }
  bytes.resize(read);
  std::vector<std::wstring> paths;
  size_t start = 0;
  // A last line without its line break was cut off while being written.
  for (size_t end = bytes.find('\n'); end != std::string::npos; start = end + 1, end = bytes.find('\n', start)) {
    if (end > start) paths.push_back(FromUtf8(bytes.substr(start, end - start)));
  }
  return paths;
}

}  // namespace

void TTemporaryRecord::RemoveLeftovers() {
  std::vector<std::wstring> kept;
  for (const std::wstring& path : ReadRecord(RecordPath())) {
    if (!IsSafeRepositoryPath(path) || !IsTemporaryName(path)) continue;
    try {
      if (DeleteInstalledFile(FLocalRoot, path) == TDeleteOutcome::Deleted) {
        LogMessage(L"Update", L"Removed the leftover of an interrupted run: " + path);
      }
    } catch (const Exception& e) {
      LogMessage(L"Update", L"Can't remove the leftover " + path + L": " + e.Message());
      kept.push_back(path);
    }
  }
  RemoveTempStreamLeftovers();
  FFile.reset();
  FNames.clear();
  MakePlainFile(RecordPath());
  DeleteFileW(RecordPath().c_str());
  for (const std::wstring& path : kept) Add(path);
}

void TTemporaryRecord::Add(const std::wstring& repositoryPath) {
  FNames.push_back(repositoryPath);
  if (!FFile) {
    // Opened at the first name: a run that claims none leaves no list.
    FFile.reset(CreateFileW(RecordPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!FFile) {
      LogMessage(L"Update", L"Can't write the list of temporary files: " + SysErrorMessage(GetLastError()));
      return;
    }
  }
  const std::string line = ToUtf8(repositoryPath) + "\n";
  DWORD written = 0;
  // Not flushed: a killed process still leaves what it wrote; only a power
  // cut may lose the newest names.
  WriteFile(FFile.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void TTemporaryRecord::Discard() {
  FFile.reset();
  if (!FNames.empty()) DeleteFileW(RecordPath().c_str());
  FNames.clear();
}

void TTemporaryRecord::DiscardUnlessLeftOver() {
  for (const std::wstring& path : FNames) {
    if (GetFileAttributesW((FLocalRoot + path).c_str()) != INVALID_FILE_ATTRIBUTES) return;
  }
  Discard();
}

TTemporaryFile ClaimTemporaryFile(const std::wstring& localRoot, const std::wstring& repositoryPath,
                                  const TSortedStringList& runPaths, TTemporaryRecord* record) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int n = 0; n < kTemporaryNameAttempts; ++n) {
    const std::wstring name = repositoryPath + (n == 0 ? L"" : L"." + std::to_wstring(n)) + kTemporarySuffix;
    if (runPaths.count(name)) continue;
    const std::wstring local = localRoot + name;
    // CREATE_NEW: an installed file of that name is never overwritten.
    UniqueFileHandle file(CreateFileW(local.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      // Written down only once it exists: a name that was taken is never
      // on the list, so the next run cannot remove someone else's file.
      if (record) record->Add(name);
      return {local, std::move(file)};
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
  }
  RaiseFileOSError(error, localRoot + repositoryPath);
}
