// The installation folder (registry and folder dialog), the game version, the
// .last file and the update channel.
#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <vector>

#include "FileSystem.h"
#include "Streams.h"
#include "install/FolderRules.h"
#include "install/LastFile.h"
#include "install/RemoveOld.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "window/MessageText.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kInstallKey[] = L"SOFTWARE\\VELDRA";
constexpr wchar_t kInstallValue[] = L"InstallLocation";



// Folders that cannot be listed count as empty.
bool FolderHasForeignEntries(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return false;
  do {
    if (IsBlockingFolderEntry(found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) return true;
  } while (FindNextFileW(find.get(), &found));
  return false;
}

// The folder picker; empty when the user cancels.
std::wstring PickFolder(HWND owner, const std::wstring& startFolder) {
  ComPtr<IFileOpenDialog> dialog;
  HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog));
  if (FAILED(hr)) RaiseLastOSError(static_cast<uint32_t>(hr));
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_CREATEPROMPT |
                     FOS_NOCHANGEDIR);
  dialog->SetTitle(L"Выберите каталог установки игры");
  ComPtr<IShellItem> start;
  if (!startFolder.empty() &&
      SUCCEEDED(SHCreateItemFromParsingName(startFolder.c_str(), nullptr, IID_PPV_ARGS(&start))))
    dialog->SetFolder(start.Get());
  if (FAILED(dialog->Show(owner))) return {};
  ComPtr<IShellItem> result;
  if (FAILED(dialog->GetResult(&result))) return {};
  UniqueCoTaskString path;
  if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, path.put())) || !path) return {};
  return path.get();
}

}  // namespace

void TfLauncher::LoadInstallLocation() {
  if (auto folder = ReadInstallLocation()) FLocalPath = *folder;
}

std::optional<std::wstring> ReadInstallLocation() {
  UniqueHKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  std::wstring value;
  if (RegQueryValueExW(key.get(), kInstallValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), kInstallValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      value = buffer.data();
  }
  return WithoutTrailingSeparator(value);
}

void TfLauncher::SaveInstallLocation() {
  UniqueHKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
      ERROR_SUCCESS) {
    std::wstring value = FLocalPath + L"\\";
    LONG status = RegSetValueExW(key.get(), kInstallValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) RaiseLastOSError(static_cast<uint32_t>(status));
  }
  RegisterVDRProtocol();
}

bool TfLauncher::ChooseInstallFolder() {
  ShowInfo(L"Игра не установлена!\rУкажите папку для установки игры или где находится игра.");
  std::wstring saved = FLocalPath;
  struct TRestore {
    std::wstring& Field;
    std::wstring& Saved;
    ~TRestore() { Field = Saved; }
  } restore{FLocalPath, saved};

  std::wstring start = FLocalPath.empty() ? ExecutableFolder() : FLocalPath;
  for (;;) {
    std::wstring chosen = PickFolder(FHandle, start);
    if (chosen.empty()) return false;
    FLocalPath = WithoutTrailingSeparator(chosen);
    start = chosen;
    bool accept = FileExists(GetGameExePath()) || !FolderHasForeignEntries(FLocalPath) ||
                  AskQuestion(L"Папка соджержит файлы, при установке сюда игры все они будут удалены.\rВы уверены?") ==
                      IDYES;
    if (!accept) continue;
    SaveInstallLocation();
    saved = FLocalPath;
    return true;
  }
}

void TfLauncher::ShowGameVersion() {
  std::wstring text = L"не найдена...";
  std::wstring exe = GetGameExePath();
  DWORD ignored = 0;
  DWORD size = FLocalPath.empty() ? 0 : GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  if (size > 0) {
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (GetFileVersionInfoW(exe.c_str(), 0, size, data.data()) &&
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) && info &&
        infoSize >= sizeof(VS_FIXEDFILEINFO)) {
      wchar_t buffer[64];
      swprintf(buffer, std::size(buffer), L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
               HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
      text = buffer;
    }
  }
  *FVersionText.Lock() = text;
  SetWindowTextW(L_Version, text.c_str());
}

std::wstring TfLauncher::VersionText() const {
  return *FVersionText.Lock();
}

void TfLauncher::ReadLastFile() {
  if (FLocalPath.empty() || GetFileAttributesW(GetLastFilePath().c_str()) == INVALID_FILE_ATTRIBUTES) {
    FCurrentBranch = kDefaultBranch;
    ShowCurrentBranch();
    if (!FLocalPath.empty() && !FileExists(GetGameExePath())) FLocalPath.clear();
    return;
  }
  try {
    TFileStream file(GetLastFilePath(), fmOpenRead | fmShareExclusive);
    const int64_t size = file.GetSize();
    // Only a bounded prefix is ever read: a huge file is a damaged one.
    if (size < 0 || size > static_cast<int64_t>(kLastFileSizeLimit)) throw Exception(kLastFileDamaged);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0) file.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
    if (!IsIntactLastFile(bytes)) {
      // Cut off, or written by something else: neither its commit nor its
      // channel is trusted, and the player hears of it instead of being
      // moved to another channel silently. The next run walks the trees.
      LogMessage(L"Start", L".last holds no commit hash or no plain channel name: ignored");
      FLastCommitHash.clear();
      FCurrentBranch = kDefaultBranch;
      ShowCurrentBranch();
      ShowInfo(kLastFileUnreadable);
      return;
    }
    TLastFileContent content = ParseLastFile(bytes);
    FLastCommitHash = content.CommitHash;
    FCurrentBranch = content.Branch;
    ShowCurrentBranch();
  } catch (...) {
    // Any failure, out of memory included, is a read error.
    FLocalPath.clear();
    std::shared_ptr<Exception> failure;
    try {
      failure = CurrentExceptionAsObject();
    } catch (...) {
    }
    ShowInfo(failure ? failure->Message() : std::wstring(kLastFileDamaged));
    if (failure) LogError(*failure);
  }
}

void TfLauncher::ShowCurrentBranch() {
  if (FCurrentBranch == Branches[0]) {
    SendMessageW(RB_Release, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(RB_Test, BM_SETCHECK, BST_UNCHECKED, 0);
  } else if (FCurrentBranch == Branches[1]) {
    SendMessageW(RB_Test, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(RB_Release, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

void TfLauncher::RB_BranchClick(HWND sender) {
  LONG_PTR tag = GetWindowLongPtrW(sender, GWLP_USERDATA);
  if (tag < 0 || tag >= static_cast<LONG_PTR>(std::size(Branches))) return;
  std::wstring branch = Branches[tag];
  if (branch == FCurrentBranch) return;
  MessageBeep(MB_ICONQUESTION);
  if (AskQuestion(L"Для перехода на другой канал обновлений придётся перекачать всю игру. Вы уверены?") == IDYES) {
    FCurrentBranch = branch;
    FNewCommitHash.clear();
    StateUpdateRequired();
  } else {
    ShowCurrentBranch();
  }
}
