// Program entry of Launcher.exe.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "MainThreadQueue.h"
#include "WinHttpBinding.h"
#include "install/RemoveOld.h"
#include "startup/CommandLine.h"
#include "startup/uParametersIPC.h"
#include "update/ExchangeSet.h"
#include "update/ServiceEndpoints.h"
#include "uDebugUtils.h"
#include "uLauncher.h"

namespace {

// Windows frees a closed exchange at once; Wine only when its pending receive
// times out (the clients' receive timeout is 60 s).
constexpr uint32_t kExchangesFreedWaitMs = 70000;

std::wstring ExeFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring LogFilePath() {
  wchar_t documents[MAX_PATH] = L"";
  std::wstring folder;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)) && documents[0])
    folder = documents;
  // Without a Documents folder the log goes to the root of the current drive.
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder + L"\\Veldra\\launcher.log";
}

void ShowFatalError(const Exception& e) {
  MessageBoxW(nullptr, e.Message().c_str(), kApplicationTitle, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

void CreateLogger() {
  try {
    SetGlobalLogger(std::make_unique<TLogger>(LogFilePath(), 0x80000));
  } catch (...) {
    ShowFatalError(*CurrentExceptionAsObject());
  }
}

int RunMessageLoop(HWND window) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (window && IsWindow(window) && IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  SetCurrentDirectoryW(ExeFolder().c_str());
  MainThread::Initialize();
  try {
    // The elevated helper of a self-replacement must not become a second
    // instance of the launcher that started it.
    if (IsSwitchPresent(L"/removeOld") || IsSwitchPresent(L"/removeOldAndClose")) CreateLogger();
    if (HandleRemoveOldSwitches()) {
      SetGlobalLogger(nullptr);
      return 0;
    }
    if (CheckRunningInstance()) return 0;
  } catch (...) {
    // A second launcher that cannot reach the first one says why.
    ShowFatalError(*CurrentExceptionAsObject());
    return 1;
  }
  if (!GlobalLogger()) CreateLogger();
  LogEndpointOverrides();
  try {
    LoadWinHttp();
  } catch (...) {
    auto failure = CurrentExceptionAsObject();
    LogError(*failure);
    ShowFatalError(*failure);
    ReleaseInstance();
    SetGlobalLogger(nullptr);
    return 1;
  }
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  auto launcher = std::make_unique<TfLauncher>();
  fLauncher = launcher.get();
  MainThread::SetExceptionHandler([](const Exception& e) {
    if (fLauncher) fLauncher->aplctnvnts1Exception(e);
  });
  int exitCode = 0;
  bool created = false;
  try {
    created = launcher->Create(instance);
  } catch (...) {
    // Only a window that could not be made at all lands here.
    auto failure = CurrentExceptionAsObject();
    LogError(*failure);
    ShowFatalError(*failure);
    exitCode = 1;
  }
  if (created) exitCode = RunMessageLoop(launcher->Handle());
  PipeRequestsWindowClosing();
  ReleaseInstance();
  MainThread::SetExceptionHandler(nullptr);
  fLauncher = nullptr;
  // A game session still running holds its own state, not the window.
  launcher.reset();
  // Downloads closed with the window end on WinHTTP's threads; their
  // temporary files go with them.
  TExchangeSet::WaitForAllFreed(kExchangesFreedWaitMs);
  MainThread::Finalize();
  if (SUCCEEDED(com)) CoUninitialize();
  SetGlobalLogger(nullptr);
  return exitCode;
}
