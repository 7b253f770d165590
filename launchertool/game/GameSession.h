#pragma once
// What a running game session shares with the window. The session's pool
// task holds its own reference, so the window may go while the game runs.
#include <windows.h>

#include <atomic>
#include <cstdint>

enum TGameStateRunning : uint8_t { gsrNone, gsrRunning, gsrRunned };

struct TGameSession {
  std::atomic<TGameStateRunning> Running{gsrNone};
  // The game's process id while it runs: the task writes it, the main thread
  // reads it to find the game's window.
  std::atomic<DWORD> ProcessId{0};
};
