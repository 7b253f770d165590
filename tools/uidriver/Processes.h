#pragma once
// Processes of the session: listing with their image paths, and ending one.
#include <windows.h>

#include <string>
#include <vector>

struct ProcessEntry {
  DWORD Pid = 0;
  DWORD ParentPid = 0;
  std::wstring Name;
  std::wstring Path;  // full image path; empty when it cannot be read
};

std::vector<ProcessEntry> ListProcesses();
bool TerminateProcessById(DWORD pid, UINT exitCode);
