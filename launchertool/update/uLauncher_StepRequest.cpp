// The request convention shared by every asynchronous step of the update run.
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "URL.h"
#include "uLauncher.h"
#include "update/RepositoryRequests.h"

void TfLauncher::SendStepRequest(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response,
                                 TStepHandler handler) {
  SendStepRequest(target, std::move(response),
                  [this, handler](THTTPAsyncContext& context) { (this->*handler)(context); });
}

void TfLauncher::SendStepRequest(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response,
                                 std::function<void(THTTPAsyncContext&)> handler) {
  // The clients come with the window; steps may run on worker threads, which
  // must not create them.
  if (!FHttp) throw Exception(L"No HTTP client for this update run");
  TURL url;
  url.From(target.URL);
  auto request = std::make_unique<THTTPGetRequest>();
  if (!target.Header.empty()) request->AddHeader(target.Header);
  request->SetUseSSL(url.Scheme == L"https");
  THTTPAsyncContext* context = FHttp->Send(request.get(), response.get(), url);
  // From here the exchange owns its request and response.
  request.release();
  response.release();
  context->SetNeedDestroyAll(true);
  // Handlers act only while the window (and the run it owns) lives.
  std::weak_ptr<int> alive = FAliveToken;
  context->Run(
      [alive, handler = std::move(handler)](THTTPAsyncContext* loaded) {
        if (!alive.expired()) handler(*loaded);
      },
      true);
}
