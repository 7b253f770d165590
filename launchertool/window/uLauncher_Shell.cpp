// The window's links to the shell: the start-up timer, the notification-area
// icon and the progress on the taskbar button.
#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include "uLauncher.h"
#include "window/WindowMessages.h"

void TfLauncher::SetUpdateTimer(bool enabled) {
  if (enabled == FUpdateTimerEnabled) return;
  FUpdateTimerEnabled = enabled;
  if (enabled) SetTimer(FHandle, kTimerUpdate, kUpdateTimerMs, nullptr);
  else KillTimer(FHandle, kTimerUpdate);
}

void TfLauncher::ShowTrayIcon(bool visible) {
  if (visible == FTrayIconVisible) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = FHandle;
  data.uID = 1;
  if (visible) {
    data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = FIconSmall;
    lstrcpynW(data.szTip, kApplicationTitle, static_cast<int>(std::size(data.szTip)));
    FTrayIconVisible = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  } else {
    Shell_NotifyIconW(NIM_DELETE, &data);
    FTrayIconVisible = false;
  }
}

void TfLauncher::SetTaskbarState(int flags) {
  FTaskbarState = flags;
  ApplyTaskbarProgress();
}

void TfLauncher::ApplyTaskbarProgress() {
  if (!FHandle) return;
  if (!FTaskbar) {
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, FTaskbar.put())))
      return;
    if (FAILED(FTaskbar->HrInit())) {
      FTaskbar.reset();
      return;
    }
  }
  FTaskbar->SetProgressState(FHandle, static_cast<TBPFLAG>(FTaskbarState));
  if (FTaskbarState == TBPF_NORMAL && FProgressMaximum > 0)
    FTaskbar->SetProgressValue(FHandle, static_cast<ULONGLONG>(FProgressPosition), static_cast<ULONGLONG>(FProgressMaximum));
}
