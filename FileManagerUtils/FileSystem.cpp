#include "FileSystem.h"

#include <windows.h>

#include <vector>

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ExecutablePath() {
  // Long paths do not fit MAX_PATH: grow until the name is not cut.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ExecutableFolder() {
  std::wstring path = ExecutablePath();
  return path.substr(0, path.find_last_of(L"\\/"));
}
