#include "WinAPIExtensions.h"

#include <objbase.h>
#include <shellapi.h>

#include <utility>
#include <vector>

#include "Exceptions.h"
#include "Handles.h"

namespace {

const wchar_t* NullIfEmpty(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

// COM for one call on this thread; uninitialized only when this call did it
// (which includes the "already initialized" success).
class TComForCall {
 public:
  TComForCall() : FInitialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  TComForCall(const TComForCall&) = delete;
  TComForCall& operator=(const TComForCall&) = delete;
  ~TComForCall() {
    if (FInitialized) CoUninitialize();
  }

 private:
  bool FInitialized;
};

}  // namespace

bool TRunningProcessInfo::WaitCloseAndGetResult(DWORD AWait, DWORD& ExitCode) {
  // A child that has already ended has no input-idle state left to wait for
  // (the wait then fails); its exit code is still the answer.
  if (WaitForInputIdle(FPI.hProcess, AWait) != 0 && WaitForSingleObject(FPI.hProcess, 0) != WAIT_OBJECT_0)
    return false;
  if (WaitForSingleObject(FPI.hProcess, AWait) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(FPI.hProcess, &code)) return false;
  ExitCode = code;
  return true;
}

void TRunningProcessInfo::WaitClose() {
  WaitForInputIdle(FPI.hProcess, INFINITE);
  WaitForSingleObject(FPI.hProcess, INFINITE);
}

void TRunningProcessInfo::CloseProcessHandles() {
  // Cleared first, then closed by their owners, so no path closes one twice.
  UniqueHandle process(std::exchange(FPI.hProcess, nullptr));
  UniqueHandle thread(std::exchange(FPI.hThread, nullptr));
}

uint32_t ShellExecuteFile(HWND wnd, const std::wstring& verb, const std::wstring& fileName,
                          const std::wstring& parameters, const std::wstring& directory, int32_t showCmd) {
  if (fileName.empty()) RaiseAssertion(L"Assertion failure", L"FileManagerUtils\\WinAPIExtensions", 611);
  TComForCall com;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
  info.hwnd = wnd;
  info.lpVerb = NullIfEmpty(verb);
  info.lpFile = fileName.c_str();
  info.lpParameters = NullIfEmpty(parameters);
  info.lpDirectory = NullIfEmpty(directory);
  info.nShow = showCmd;
  if (ShellExecuteExW(&info)) return 0;
  DWORD error = GetLastError();
  // A failure must never read as success.
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

void StartProcess(const std::wstring& fileName, const std::wstring& parameters, TRunningProcessInfo& info,
                  uint16_t showWindow) {
  // No caller reuses a record that still holds a child; if one does, the old
  // handles are closed rather than overwritten and leaked.
  info.Finalize();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showWindow;
  info.FPI = {};
  // CreateProcessW may write into the command line, so it gets its own buffer.
  std::wstring line = L"\"" + fileName + L"\" " + parameters;
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');
  // Reported when the call fails without setting an error of its own.
  SetLastError(ERROR_INVALID_PARAMETER);
  if (!CreateProcessW(fileName.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &info.FPI)) {
    DWORD error = GetLastError();
    info.FPI = {};
    RaiseLastOSError(error);
  }
  info.FFinalizer.InitFinalizator([&info] { info.CloseProcessHandles(); });
}
