#pragma once
// Which entries make a chosen installation folder "not empty".
#include <string>

// True for any sub-folder but "." and "..", and for any file but
// "Launcher.exe" (in any letter case).
bool IsBlockingFolderEntry(const std::wstring& name, bool isDirectory);

// A folder path as the launcher keeps it: without one trailing separator.
std::wstring WithoutTrailingSeparator(std::wstring path);
