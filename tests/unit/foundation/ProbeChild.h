#pragma once
// A copy of this test program that reports its command line when started as a
// child (see TestMain.cpp), placed in a folder whose path contains blanks.
#include <windows.h>

#include <string>

#include "TempFolder.h"

inline constexpr wchar_t kProbeOutputVariable[] = L"FOUNDATION_PROBE_OUTPUT";
inline constexpr wchar_t kProbeWaitVariable[] = L"FOUNDATION_PROBE_WAIT";
inline constexpr wchar_t kProbeExitVariable[] = L"FOUNDATION_PROBE_EXIT";
// "<read|write|divide|thread|offmain>|<log file>": the child logs there and
// faults (offmain: main-thread code called on another thread).
inline constexpr wchar_t kFaultVariable[] = L"FOUNDATION_PROBE_FAULT";

class ProbeChild {
 public:
  // exitCode: the child's exit code; waitEvent: a named event it waits for first.
  explicit ProbeChild(int exitCode = 0, const std::wstring& waitEvent = L"") {
    std::wstring dir = FFolder.Path() + L"\\dir with blanks";
    CreateDirectoryW(dir.c_str(), nullptr);
    FExe = dir + L"\\probe child.exe";
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CopyFileW(self, FExe.c_str(), FALSE);
    MakeWindowsProgram(FExe);
    FOutput = FFolder.File(L"command-line.txt");
    SetEnvironmentVariableW(kProbeOutputVariable, FOutput.c_str());
    SetEnvironmentVariableW(kProbeExitVariable, std::to_wstring(exitCode).c_str());
    SetEnvironmentVariableW(kProbeWaitVariable, waitEvent.empty() ? nullptr : waitEvent.c_str());
  }
  ProbeChild(const ProbeChild&) = delete;
  ProbeChild& operator=(const ProbeChild&) = delete;
  ~ProbeChild() {
    SetEnvironmentVariableW(kProbeOutputVariable, nullptr);
    SetEnvironmentVariableW(kProbeExitVariable, nullptr);
    SetEnvironmentVariableW(kProbeWaitVariable, nullptr);
  }

  const std::wstring& Exe() const { return FExe; }

  // The child's command line once it has written it (empty if it never did
  // within the limit: a child that is not started by the helper under test).
  std::wstring WaitForCommandLine(DWORD limitMs = 60000) const {
    for (DWORD waited = 0; waited < limitMs; waited += 50) {
      std::string bytes = FFolder.ReadFile(L"command-line.txt");
      if (!bytes.empty())
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
      Sleep(50);
    }
    return L"";
  }

 private:
  // The game is a windowed program; waiting for input idle fails on console
  // programs, so the copy is marked as a windowed one (its main() still runs).
  static void MakeWindowsProgram(const std::wstring& exe) {
    HANDLE file = CreateFileW(exe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};
    DWORD n = 0;
    if (ReadFile(file, &dos, sizeof dos, &n, nullptr) &&
        SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(file, &nt, sizeof nt, &n, nullptr) && n == sizeof nt) {
      nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
      SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN);
      WriteFile(file, &nt, sizeof nt, &n, nullptr);
    }
    CloseHandle(file);
  }

  TempFolder FFolder;
  std::wstring FExe;
  std::wstring FOutput;
};
