#include "Files.h"

HANDLE OpenHeldFile(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool AddFileAttributes(const std::wstring& path, bool hidden, bool readOnly) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  DWORD wanted = attributes & ~FILE_ATTRIBUTE_NORMAL;
  if (hidden) wanted |= FILE_ATTRIBUTE_HIDDEN;
  if (readOnly) wanted |= FILE_ATTRIBUTE_READONLY;
  return SetFileAttributesW(path.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted) != FALSE;
}

DWORD FileAttributesOf(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
