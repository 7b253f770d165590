// The last-chance error handler and the information box.
#include <windows.h>

#include "HttpExceptions.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "window/ErrorBoxText.h"
#include "window/MessageText.h"

namespace {

HWND BoxOwner() {
  HWND owner = fLauncher ? fLauncher->Handle() : nullptr;
  return owner && IsWindowVisible(owner) ? owner : nullptr;
}


}  // namespace

void ShowInfo(const std::wstring& text) {
  MessageBeep(MB_ICONINFORMATION);
  HWND owner = BoxOwner();
  MessageBoxW(owner, MessageBoxText(text).c_str(), kApplicationTitle,
              MB_OK | MB_ICONINFORMATION | (owner ? MB_APPLMODAL : MB_TASKMODAL));
}

int AskQuestion(const std::wstring& text) {
  HWND owner = BoxOwner();
  return MessageBoxW(owner, MessageBoxText(text).c_str(), kApplicationTitle,
                     MB_YESNO | MB_ICONQUESTION | (owner ? MB_APPLMODAL : MB_TASKMODAL));
}

void TfLauncher::aplctnvnts1Exception(const Exception& e) {
  if (e.Is<EAbort>()) return;
  // Failures of an asynchronous exchange arrive wrapped by the HTTP layer.
  if (e.Is<EHTTPWrapperException>()) {
    // A download cancelled because the run already failed says nothing.
    if (e.GetBaseException().Is<EAbort>()) return;
    ReportRunFailure(e);
    return;
  }
  ShowError(e);
}

void TfLauncher::ReportRunFailure(const Exception& e) {
  FErrorOnLoading = true;
  if (ProgressBar) ShowWindow(ProgressBar, SW_HIDE);
  SetTaskbarState(0);
  ShowError(e);
}

void TfLauncher::ShowError(const Exception& e) {
  LogError(e);
  HWND owner = BoxOwner();
  MessageBoxW(owner, MessageBoxText(ErrorBoxText(e)).c_str(), kApplicationTitle,
              MB_OK | MB_ICONERROR | (owner ? MB_APPLMODAL : MB_TASKMODAL));
  if (BTN_Exit) EnableWindow(BTN_Exit, TRUE);
}
