#pragma once
// Files as other programs on the player's machine leave them: held open, or
// marked read-only or hidden.
#include <windows.h>

#include <string>

// Opens the file as an editor or a scanner would hold it: others may read it
// but neither write, rename nor delete it. INVALID_HANDLE_VALUE and the last
// error on failure.
HANDLE OpenHeldFile(const std::wstring& path);
// Adds the read-only and hidden attributes asked for; false and the last
// error on failure.
bool AddFileAttributes(const std::wstring& path, bool hidden, bool readOnly);
// The file's attributes, INVALID_FILE_ATTRIBUTES when it cannot be read.
DWORD FileAttributesOf(const std::wstring& path);
