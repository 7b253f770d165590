#pragma once
// Resource identifiers shared by Launcher.rc and the code that loads them.
#define IDI_MAINICON 1
// PNG pictures of the window (RCDATA).
#define IDR_BACKGROUND 101
#define IDR_LOGO_VK 102
#define IDR_LOGO_DISCORD 103
