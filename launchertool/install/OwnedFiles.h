#pragma once
// Replacing and deleting the files the launcher owns (those it installs, and
// .last). Another program may hold one for a moment (a virus scan, a
// preview): such a file is tried again for about a second and a half before
// the call gives up. A read-only or hidden file is made plain first.
#include <windows.h>

#include <string>

// Puts source in place of target in one step. ERROR_SUCCESS or the last error.
DWORD ReplaceOwnedFile(const std::wstring& source, const std::wstring& target);
// ERROR_SUCCESS also when the file does not exist (any more).
DWORD DeleteOwnedFile(const std::wstring& path);
// Clears the read-only, hidden and system attributes where they are set;
// false when the file's attributes could not be read or changed.
bool MakePlainFile(const std::wstring& path);
