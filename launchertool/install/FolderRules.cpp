#include "install/FolderRules.h"

#include "startup/CommandLine.h"

bool IsBlockingFolderEntry(const std::wstring& name, bool isDirectory) {
  if (isDirectory) return name != L"." && name != L"..";
  return AsciiUpper(name) != L"LAUNCHER.EXE";
}

std::wstring WithoutTrailingSeparator(std::wstring path) {
  if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}
