#include "install/DiskSpace.h"

#include <windows.h>

#include "uDebugUtils.h"
#include "update/DownloadError.h"
#include "update/MachineFaults.h"

std::optional<uint64_t> FreeBytesFor(const std::wstring& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

void RequireRoom(const std::wstring& folder, uint64_t neededBytes) {
  RequireRoom(folder, neededBytes, FreeBytesFor(folder));
}

void RequireRoom(const std::wstring& folder, uint64_t neededBytes, std::optional<uint64_t> free) {
  if (!free || neededBytes <= *free) return;
  LogMessage(L"Update", L"Not enough disk space in " + folder + L": " + std::to_wstring(neededBytes) +
                            L" bytes needed, " + std::to_wstring(*free) + L" free");
  throw EDownloadError(DiskFullMessage(DriveOf(folder), neededBytes - *free));
}
