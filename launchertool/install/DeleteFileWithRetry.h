#pragma once
#include <windows.h>

#include <string>

// Deletes a file, trying up to 5 times 200 ms apart while something holds it.
// Returns 0, ERROR_FILE_NOT_FOUND at once for a missing file, or the last error.
DWORD DeleteFileWithRetry(const std::wstring& path);
