#pragma once
// Private messages and timer ids of the launcher window.
#include <windows.h>

inline constexpr UINT kTrayMessage = WM_APP + 1;
inline constexpr UINT_PTR kTimerUpdate = 1;
inline constexpr UINT_PTR kTimerConnectWait = 2;
inline constexpr UINT_PTR kTimerProgress = 3;
inline constexpr UINT kUpdateTimerMs = 500;
inline constexpr UINT kConnectWaitMs = 500;
// The progress bar shows a run's count at most once per this many ms.
inline constexpr UINT kProgressFrameMs = 40;
inline constexpr int kConnectWaitTicks = 51;

// Text of the update notice shown in L_Update.
const wchar_t* UpdateNoticeText();
