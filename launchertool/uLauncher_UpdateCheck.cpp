// The start-up check against the repository and the Update button.
#include "uLauncher.h"

void TfLauncher::tmrUpdateTimer() {}

void TfLauncher::RequestHeadCommit(THeadCommitHandler handler) {}

void TfLauncher::OnVersionChecked(THTTPAsyncContext& context) {}

void TfLauncher::BTN_UpdateClick() {}
