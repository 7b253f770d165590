// Usage events of the launcher.
#include <ctime>

#include "HttpClient.h"
#include "analytics/AnalyticsEvents.h"
#include "analytics/AnalyticsSender.h"
#include "analytics/ClientId.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/ServiceEndpoints.h"

void TfLauncher::CreateHttpClients() {
  if (FHttp) return;
  FHttp = std::make_shared<THTTPClient>(kDefaultUserAgent, L"", L"", true);
  FHttpSync = std::make_shared<THTTPClient>(kDefaultUserAgent, L"", L"", false);
  FAnalytics = std::make_shared<TAnalyticsSender>(FHttpSync, AnalyticsCollectURL(ServiceEndpoints().AnalyticsBase));
}

void TfLauncher::InitAnalytics() {
  CreateHttpClients();
  FSessionId = std::to_wstring(static_cast<long long>(std::time(nullptr)));
  FClientId = ChooseClientId(EnumerateAdapters());
  if (!FClientId.empty()) RegisterEventWithParams(L"launcher_start", VersionText(), L"");
}

void TfLauncher::RegisterEventWithParams(const std::wstring& name, const std::wstring& version,
                                         const std::wstring& extra) {
  const std::wstring body = BuildEventBody(FClientId, name, version, extra);
  try {
    if (!FAnalytics) CreateHttpClients();
    FAnalytics->Post(body);
  } catch (const Exception& e) {
    // Usage events are never the user's concern.
    LogError(e);
  }
}

void TfLauncher::SendUpdateEvent(const std::wstring& step, bool error) {
  RegisterEventWithParams(L"update_" + step, VersionText(),
                          BuildUpdateExtra(FLastCommitHash, FProcessingHash, FCurrentBranch, error));
}
