// Placeholder until the tree walk lands.
#include "Exceptions.h"
#include "uLauncher.h"

void TfLauncher::TryFullUpdate() { throw ENotSupportedException(L"The tree walk is not available"); }
void TfLauncher::RequestTree(const std::wstring&, const std::wstring&) {}
void TfLauncher::OnTreeLoaded(THTTPAsyncContext&) {}
