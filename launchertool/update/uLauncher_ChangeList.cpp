// Placeholder until the incremental path lands.
#include "Exceptions.h"
#include "uLauncher.h"

void TfLauncher::GetChangesList() { throw ENotSupportedException(L"Change lists are not available"); }
void TfLauncher::OnChangesListLoaded(THTTPAsyncContext&) {}
void TfLauncher::RequestNextCommit() {}
void TfLauncher::OnNextCommitLoaded(THTTPAsyncContext&) {}
void TfLauncher::MarkForDownload(const std::wstring&) {}
void TfLauncher::MarkForDelete(const std::wstring&) {}
