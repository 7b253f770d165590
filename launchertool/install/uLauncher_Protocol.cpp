// Registration of the "vdr" URL scheme for the current user, so that server
// links run the installation's launcher with /connect.
#include <windows.h>

#include "uDebugUtils.h"
#include "uLauncher.h"

namespace {

constexpr wchar_t kClass[] = L"TfLauncher";
constexpr wchar_t kTag[] = L"RegisterVDRProtocol";

void Log(const wchar_t* message) { LogClassMessage(kClass, kTag, message); }

UniqueHKEY OpenOrCreate(const wchar_t* path) {
  UniqueHKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    key.reset();
  return key;
}

void WriteString(HKEY key, const wchar_t* name, const std::wstring& data) {
  LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) RaiseLastOSError(static_cast<uint32_t>(status));
}

}  // namespace

void TfLauncher::RegisterVDRProtocol() {
  Log(L"begin");
  UniqueHKEY scheme = OpenOrCreate(L"SOFTWARE\\Classes\\vdr");
  if (!scheme) {
    Log(L"Can't create VDR protocol");
    return;
  }
  WriteString(scheme.get(), L"URL Protocol", L"");
  WriteString(scheme.get(), nullptr, L"URL:vdr connect");

  if (UniqueHKEY icon = OpenOrCreate(L"SOFTWARE\\Classes\\vdr\\DefaultIcon"))
    WriteString(icon.get(), nullptr, L"\"" + GetGameExePath() + L",0\"");
  else
    Log(L"Can't set protocol icon");

  if (UniqueHKEY command = OpenOrCreate(L"SOFTWARE\\Classes\\vdr\\Shell\\Open\\Command")) {
    WriteString(command.get(), nullptr, L"\"" + FLocalPath + L"\\Launcher.exe\" /connect \"%1\"");
    Log(L"end successful");
  } else {
    Log(L"Can't set protocol processor");
  }
}
