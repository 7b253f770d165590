#include "update/MachineFaults.h"

#include "PathCompare.h"

namespace {

// Windows error codes; the core does not include <windows.h>.
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kLockViolation = 33;
constexpr uint32_t kHandleDiskFull = 39;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kBadPathname = 161;
constexpr uint32_t kFilenameTooLong = 206;

constexpr uint64_t kMegabyte = 1024 * 1024;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

TMachineFault MachineFaultOf(uint32_t systemCode) {
  switch (systemCode) {
    case kAccessDenied:
    case kSharingViolation:
    case kLockViolation:
      return TMachineFault::FileHeld;
    case kHandleDiskFull:
    case kDiskFull:
      return TMachineFault::DiskFull;
    case kInvalidName:
    case kBadPathname:
    case kFilenameTooLong:
      return TMachineFault::PathRefused;
    default:
      return TMachineFault::Other;
  }
}

std::wstring DriveOf(const std::wstring& windowsPath) {
  std::wstring path = windowsPath;
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) path = L"\\\\" + path.substr(8);
  else if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
  if (path.size() >= 2 && path[1] == L':' && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z')) {
    return {static_cast<wchar_t>(path[0] & ~0x20), L':'};
  }
  if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share
    size_t server = path.find_first_of(L"\\/", 2);
    if (server == std::wstring::npos || server == 2) return {};
    size_t share = path.find_first_of(L"\\/", server + 1);
    if (share == server + 1) return {};
    return path.substr(0, share);
  }
  return {};
}

std::wstring PathForPlayer(const std::wstring& installationFolder, const std::wstring& windowsPath) {
  std::wstring path = windowsPath;
  if (path.rfind(L"\\\\?\\", 0) == 0 && path.rfind(L"\\\\?\\UNC\\", 0) != 0) path.erase(0, 4);
  std::wstring root = installationFolder;
  while (!root.empty() && IsSeparator(root.back())) root.pop_back();
  if (root.empty() || path.size() <= root.size() + 1 || !IsSeparator(path[root.size()]) ||
      ComparePathsNoCase(path.substr(0, root.size()), root) != 0) {
    return windowsPath;
  }
  std::wstring inside = path.substr(root.size());
  for (wchar_t& c : inside) {
    if (c == L'\\') c = L'/';
  }
  return inside;
}

std::wstring FileHeldMessage(const std::wstring& path) {
  return L"Файл " + path +
         L" занят другой программой (например, игрой, редактором или антивирусом). Закройте её и нажмите "
         L"«Обновить» ещё раз.";
}

std::wstring DiskFullMessage(const std::wstring& drive, std::optional<uint64_t> neededBytes) {
  std::wstring text = L"Недостаточно места на диске";
  if (!drive.empty()) text += L" " + drive;
  text += L".";
  if (neededBytes) {
    // Rounded up: "1 МБ" rather than "0 МБ" for a few bytes.
    const uint64_t megabytes = (*neededBytes + kMegabyte - 1) / kMegabyte;
    text += L" Нужно ещё " + std::to_wstring(megabytes == 0 ? 1 : megabytes) + L" МБ.";
  }
  return text + L" Освободите место на диске и нажмите «Обновить» ещё раз.";
}

std::wstring PathRefusedMessage(const std::wstring& path) {
  return L"Windows не может сохранить файл " + path +
         L": недопустимое имя или слишком длинный путь. Установите игру в папку с более коротким путём или "
         L"сообщите об этом разработчикам игры.";
}
