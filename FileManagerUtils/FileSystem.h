#pragma once
// Small questions about the file system that several modules ask.
#include <string>

// True for an existing file (a folder of that name does not count).
bool FileExists(const std::wstring& path);
// The full path of the running executable.
std::wstring ExecutablePath();
// The folder of the running executable, without a trailing separator.
std::wstring ExecutableFolder();
