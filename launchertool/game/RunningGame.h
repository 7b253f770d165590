#pragma once
// Whether the game of an installation is running, whoever started it (the
// launcher, a desktop shortcut, the game's own restart).
#include <string>

// True when a process runs the program gameExe (a full path; compared
// without regard to case or short names).
bool IsProgramRunning(const std::wstring& gameExe);
