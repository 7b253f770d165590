#pragma once
// Reading windows of other processes: top-level windows, child controls and
// their state, written as JSON for the tests.
#include <windows.h>

#include <string>
#include <vector>

#include "JsonText.h"

std::wstring ClassOf(HWND window);
// The control's text through WM_GETTEXT (with a time-out, so a busy target
// cannot hang the driver), else the text the system keeps for the window.
std::wstring TextOf(HWND window);
DWORD ProcessOf(HWND window);
std::vector<HWND> TopLevelWindows();
std::vector<HWND> Descendants(HWND parent);

void WriteTopLevel(JsonText& json, HWND window);
void WriteControl(JsonText& json, HWND control, HWND topLevel);
// A dialog box: caption, the texts of its static controls, its buttons and edits.
void WriteDialog(JsonText& json, HWND dialog);

HWND ParseHwnd(const std::wstring& text);
