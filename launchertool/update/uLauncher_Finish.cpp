// Placeholder until the finishing step lands.
#include "uLauncher.h"

void TfLauncher::FinishUpdate() {}
void TfLauncher::ApplyDeletions() {}
void TfLauncher::DeleteUnlistedFiles(const std::wstring&) {}
void TfLauncher::WriteLastFile() {}
void TfLauncher::ResetUpdateState() {}
void TfLauncher::ShowUpdateFinished() {}
void TfLauncher::ShowNothingToLoad() {}
