// The named UI states: the only way the rest of the launcher changes what the
// user can do.
#include <windows.h>
#include <commctrl.h>

#include "uLauncher.h"
#include "window/WindowMessages.h"

namespace {
constexpr int kTaskbarNone = 0;           // TBPF_NOPROGRESS
constexpr int kTaskbarIndeterminate = 1;  // TBPF_INDETERMINATE
constexpr int kTaskbarNormal = 2;         // TBPF_NORMAL

void Enable(HWND control, bool enabled) { EnableWindow(control, enabled ? TRUE : FALSE); }
void Show(HWND control, bool visible) { ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE); }
}  // namespace

void TfLauncher::StateChecking(bool startTimer) {
  Enable(BTN_Update, false);
  Enable(BTN_Run, false);
  Enable(BTN_Exit, true);
  Enable(RB_Release, false);
  Enable(RB_Test, false);
  Show(L_Update, false);
  SetUpdateTimer(startTimer);
  Show(ProgressBar, false);
  SetTaskbarState(kTaskbarNone);
}

void TfLauncher::StateUpdateRequired() { OfferUpdate(false); }

void TfLauncher::StateUpdateOptional() { OfferUpdate(true); }

void TfLauncher::OfferUpdate(bool gamePlayable) {
  Enable(BTN_Update, true);
  Enable(BTN_Run, gamePlayable);
  Enable(BTN_Exit, true);
  Enable(RB_Release, true);
  Enable(RB_Test, true);
  SetStatusText(UpdateNoticeText());
  Show(L_Update, true);
  SetUpdateTimer(false);
  DoConnectClient(FConnectionString);
}

void TfLauncher::StateReady() {
  Enable(BTN_Update, false);
  Enable(BTN_Run, true);
  Enable(BTN_Exit, true);
  Enable(RB_Release, true);
  Enable(RB_Test, true);
  Show(L_Update, false);
  SetUpdateTimer(false);
  DoConnectClient(FConnectionString);
}

void TfLauncher::SetBusy(bool busy) {
  for (HWND control : {BTN_Update, BTN_Run, BTN_Exit, RB_Release, RB_Test}) Enable(control, !busy);
}

void TfLauncher::StateGettingFileList() {
  SetStatusText(L"Получение списка файлов, пожалуйста, подождите...");
  SetProgressMarquee(true);
  SetTaskbarState(kTaskbarIndeterminate);
}

void TfLauncher::StateFileLoading() {
  SetStatusText(L"Загрузка файлов... Скорость зависит от вашего интернета.");
  SetProgressMarquee(false);
  SetTaskbarState(kTaskbarNormal);
}

void TfLauncher::SetStatusText(const std::wstring& text) { SetWindowTextW(L_Update, text.c_str()); }

void TfLauncher::SetProgressMarquee(bool marquee) {
  LONG_PTR style = GetWindowLongPtrW(ProgressBar, GWL_STYLE);
  if (marquee) {
    SetWindowLongPtrW(ProgressBar, GWL_STYLE, style | PBS_MARQUEE);
    SendMessageW(ProgressBar, PBM_SETMARQUEE, TRUE, 30);
  } else {
    SendMessageW(ProgressBar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongPtrW(ProgressBar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(FProgressPosition), 0);
  }
  InvalidateRect(ProgressBar, nullptr, TRUE);
}

void TfLauncher::SetProgressRange(int32_t maximum) {
  FProgressMaximum = maximum;
  SendMessageW(ProgressBar, PBM_SETRANGE32, 0, maximum);
  ApplyTaskbarProgress();
}

void TfLauncher::SetProgressPosition(int32_t position) {
  FProgressPosition = position;
  SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  ApplyTaskbarProgress();
}
