#pragma once
// Screenshots of a window as 24-bit BMP files.
#include <windows.h>

#include <string>

// Copies the window's area (its client area when `clientOnly`) as the screen
// shows it; with `print` the window draws itself into the bitmap instead.
bool SaveWindowBitmap(HWND window, const std::wstring& path, bool clientOnly, bool print);
