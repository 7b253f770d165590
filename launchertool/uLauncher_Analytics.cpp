// Usage events of the launcher.
#include "uLauncher.h"

void TfLauncher::InitAnalytics() {}

void TfLauncher::RegisterEventWithParams(const std::wstring& name, const std::wstring& version,
                                         const std::wstring& extra) {}

void TfLauncher::SendUpdateEvent(const std::wstring& step, bool error) {}
