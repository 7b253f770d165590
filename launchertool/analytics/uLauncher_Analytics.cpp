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
  // A connection that sends nothing for this long is taken for dead and
  // retried, which bounds a run on a dead connection (see the README).
  constexpr uint32_t kSilenceMs = 30000;
  FHttp = std::make_shared<THTTPClient>();
  FHttp->ConnectTimeout = FHttp->ReceiveTimeout = FHttp->ResolveTimeout = FHttp->SendTimeout = kSilenceMs;
  FHttp->InitSession(kDefaultUserAgent, L"", L"", true);
  FHttpSync = std::make_shared<THTTPClient>(kDefaultUserAgent, L"", L"", false);
  FAnalytics = std::make_shared<TAnalyticsSender>(FHttpSync, AnalyticsCollectURL(ServiceEndpoints().AnalyticsBase));
}

void TfLauncher::InitAnalytics() {
  CreateHttpClients();
  FSessionId = std::to_wstring(static_cast<long long>(std::time(nullptr)));
  FClientId = ChooseClientId(EnumerateAdapters());
  if (!FClientId.empty()) RegisterEventWithParams(L"launcher_start", VersionText(), {});
}

void PostAnalyticsEvent(TAnalyticsSender* analytics, const std::wstring& clientId, const std::wstring& name,
                        const std::wstring& version, const TEventParams& extra) {
  try {
    if (analytics) analytics->Post(BuildEventBody(clientId, name, version, extra));
  } catch (const Exception& e) {
    // Usage events are never the user's concern.
    LogError(e);
  }
}

void TfLauncher::RegisterEventWithParams(const std::wstring& name, const std::wstring& version,
                                         const TEventParams& extra) {
  if (!FAnalytics) CreateHttpClients();
  PostAnalyticsEvent(FAnalytics.get(), FClientId, name, version, extra);
}

void TfLauncher::SendUpdateEvent(const std::wstring& step, bool error) {
  RegisterEventWithParams(L"update_" + step, VersionText(),
                          BuildUpdateExtra(FLastCommitHash, FProcessingHash, FCurrentBranch, error));
}
