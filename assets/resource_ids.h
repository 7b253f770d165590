#pragma once
// Resource identifiers shared by Launcher.rc and the code that loads them.
#define IDI_MAINICON 1
