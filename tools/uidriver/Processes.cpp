#include "Processes.h"

#include <tlhelp32.h>

#include "Handles.h"

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return list;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    ProcessEntry item;
    item.Pid = entry.th32ProcessID;
    item.ParentPid = entry.th32ParentProcessID;
    item.Name = entry.szExeFile;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (process) {
      wchar_t path[MAX_PATH * 2];
      DWORD size = ARRAYSIZE(path);
      if (QueryFullProcessImageNameW(process.get(), 0, path, &size)) item.Path.assign(path, size);
    }
    list.push_back(std::move(item));
  }
  return list;
}

bool TerminateProcessById(DWORD pid, UINT exitCode) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process || !TerminateProcess(process.get(), exitCode)) return false;
  WaitForSingleObject(process.get(), 10000);
  return true;
}
