#include "install/DeleteFileWithRetry.h"

DWORD DeleteFileWithRetry(const std::wstring& path) {
  DWORD last = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (DeleteFileW(path.c_str())) return ERROR_SUCCESS;
    last = GetLastError();
    if (last == ERROR_FILE_NOT_FOUND) return last;
    Sleep(200);
  }
  return last;
}
