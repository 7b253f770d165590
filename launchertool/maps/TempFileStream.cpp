#include "maps/TempFileStream.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "Exceptions.h"

std::unique_ptr<TStream> CreateTempStream() {
  DWORD length = GetTempPathW(0, nullptr);
  if (length == 0) RaiseLastOSError();
  std::vector<wchar_t> folder(length + 1);
  if (GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()) == 0) RaiseLastOSError();
  wchar_t name[MAX_PATH + 1] = {};
  if (GetTempFileNameW(folder.data(), L"vdrp", 0, name) == 0) RaiseLastOSError();
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
