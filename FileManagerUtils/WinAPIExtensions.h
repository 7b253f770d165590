#pragma once
// Starting other programs: through the shell (how the launcher restarts itself
// elevated) and through CreateProcessW into a record that owns the child's
// handles (the game, the restart after a self-update).
#include <windows.h>

#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "SysTypes.h"

// A started child process. Owns its process and thread handles and closes
// them exactly once: on Finalize or when the record goes away. Cannot be
// copied; pass it by reference.
struct TRunningProcessInfo {
  TAutoFinalizedRecord FFinalizer;
  PROCESS_INFORMATION FPI{};

  TRunningProcessInfo() = default;
  ~TRunningProcessInfo() { Finalize(); }

  // True when the child became idle (or had already ended), ended and its exit
  // code was read, each within AWait milliseconds; with 0 a check that does
  // not block. ExitCode is written only on success.
  bool WaitCloseAndGetResult(DWORD AWait, DWORD& ExitCode);
  // Waits without limit until the child is ready for input, then until it ends.
  void WaitClose();
  // The end-of-life action: closes both handles and clears them.
  void CloseProcessHandles();
  // Ends the record now (closes the handles of a started child); later calls
  // and calls on an empty record do nothing.
  void Finalize() { FFinalizer.Finalize(); }
  bool IsInitialized() const { return FFinalizer.IsInitialized(); }
};

// ShellExecuteExW without the shell's own error dialogs. Empty verb,
// parameters and directory mean the defaults. Returns 0 on success, otherwise
// the Windows error code (1223 when the user refuses elevation). An empty file
// name raises EAssertionFailed. COM is initialized for the call only.
uint32_t ShellExecuteFile(HWND wnd, const std::wstring& verb, const std::wstring& fileName,
                          const std::wstring& parameters, const std::wstring& directory, int32_t showCmd);

// Starts fileName with the command line "\"fileName\" parameters" into info
// (a record still holding a child is finalized first). Raises EOSError with
// the system's error code when the program cannot be started; info is then
// empty.
void StartProcess(const std::wstring& fileName, const std::wstring& parameters, TRunningProcessInfo& info,
                  uint16_t showWindow);
