// Placeholder until the download queue lands.
#include "Exceptions.h"
#include "uLauncher.h"

void TfLauncher::BeginFileLoading() { throw ENotSupportedException(L"Downloads are not available"); }
void TfLauncher::StartLoadingItem(int32_t) {}
void TfLauncher::OnFileLoaded(THTTPAsyncContext&) {}
void TfLauncher::TryLoadNextFile() {}
void TfLauncher::IncrementActiveFiles() {}
void TfLauncher::EndLoadingStep() {}
void TfLauncher::IncProgress() {}
void TfLauncher::ResetProgress() {}
void TfLauncher::CaptionFolderPreparing() {}
void TfLauncher::CaptionFileLoading() {}
void TfLauncher::CaptionDataPack() {}
void TfLauncher::CaptionFinishLoading() {}
