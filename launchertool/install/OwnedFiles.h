#pragma once
// Replacing and deleting the files the launcher owns (those it installs, and
// .last). Another program may hold one for a moment (a virus scan, a
// preview): such a file is tried again for about a second and a half before
// the call gives up. A read-only or hidden file is made plain first.
#include <windows.h>

#include <functional>
#include <string>

// Makes one attempt (returns what attempt returned) or refuses it (FALSE with
// the thread's last error set); the pauses between attempts are outside it.
using TAttemptGuard = std::function<BOOL(const std::function<BOOL()>& attempt)>;

// Puts source in place of target in one step. ERROR_SUCCESS or the last error
// (the guard's, when it refused an attempt).
DWORD ReplaceOwnedFile(const std::wstring& source, const std::wstring& target, const TAttemptGuard& guard = {});
// ERROR_SUCCESS also when the file does not exist (any more).
DWORD DeleteOwnedFile(const std::wstring& path);
// Clears the read-only, hidden and system attributes where they are set;
// false when the file's attributes could not be read or changed.
bool MakePlainFile(const std::wstring& path);
