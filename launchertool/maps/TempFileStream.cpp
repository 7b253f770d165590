#include "maps/TempFileStream.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "Exceptions.h"

std::wstring TemporaryFolder() {
  DWORD length = GetTempPathW(0, nullptr);
  if (length == 0) RaiseLastOSError();
  std::vector<wchar_t> folder(length + 1);
  length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0) RaiseLastOSError();
  return std::wstring(folder.data(), length);
}

namespace {
// GetTempFileNameW makes "vdrpXXXX.tmp" of it.
constexpr wchar_t kNamePrefix[] = L"vdrp";
}  // namespace

void RemoveTempStreamLeftovers() {
  const std::wstring folder = TemporaryFolder();
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileExW((folder + kNamePrefix + L"*.tmp").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0));
  if (!find) return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + data.cFileName).c_str());
  } while (FindNextFileW(find.get(), &data));
}

std::unique_ptr<TStream> CreateTempStream() {
  const std::wstring folder = TemporaryFolder();
  wchar_t name[MAX_PATH + 1] = {};
  if (GetTempFileNameW(folder.c_str(), kNamePrefix, 0, name) == 0) RaiseFileOSError(GetLastError(), folder);
  UniqueFileHandle handle(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_RANDOM_ACCESS,
                                      nullptr));
  if (!handle) {
    DWORD error = GetLastError();
    DeleteFileW(name);
    RaiseLastOSError(error);
  }
  DWORD returned = 0;
  DeviceIoControl(handle.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  return std::make_unique<TTempFileStream>(std::move(handle));
}
