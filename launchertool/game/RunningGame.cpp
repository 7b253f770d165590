#include "game/RunningGame.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "Handles.h"
#include "PathCompare.h"

namespace {

std::wstring LongPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return path;
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n);
  }
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ImagePath(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  wchar_t path[MAX_PATH * 2];
  DWORD size = static_cast<DWORD>(std::size(path));
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  return std::wstring(path, size);
}

}  // namespace

bool IsProgramRunning(const std::wstring& gameExe) {
  const std::wstring wanted = LongPath(gameExe);
  const std::wstring name = FileNameOf(wanted);
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    // Only processes of that file name are opened.
    if (ComparePathsNoCase(entry.szExeFile, name) != 0) continue;
    const std::wstring image = ImagePath(entry.th32ProcessID);
    if (!image.empty() && ComparePathsNoCase(LongPath(image), wanted) == 0) return true;
  }
  return false;
}
