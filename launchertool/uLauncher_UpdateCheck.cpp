// The start-up check against the repository and the Update button.
#include "FileSystem.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "URL.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/RepositoryRequests.h"

namespace {

// Runs a window state method on the main thread, if the window still exists then.
void QueueState(void (TfLauncher::*state)()) {
  MainThread::Queue([state] {
    if (fLauncher) (fLauncher->*state)();
  });
}

}  // namespace

void TfLauncher::tmrUpdateTimer() {
  SetUpdateTimer(false);
  if (!FLocalPath.empty() && FileExists(GetGameExePath()) && !FLastCommitHash.empty()) {
    StateChecking(false);
    RequestHeadCommit(&TfLauncher::OnVersionChecked);
  } else {
    // Nothing playable is installed: the only way on is an update.
    FNewCommitHash.clear();
    FLastCommitHash.clear();
    StateUpdateRequired();
  }
}

void TfLauncher::RequestHeadCommit(THeadCommitHandler handler) {
  CreateHttpClients();
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch;
  const TRepositoryRequestTarget target = BuildRepositoryRequest(TRepositoryRequest::HeadCommit, args);
  TURL url;
  url.From(target.URL);
  auto request = std::make_unique<THTTPGetRequest>();
  request->AddHeader(target.Header);
  request->SetUseSSL(url.Scheme == L"https");
  auto response = std::make_unique<THTTPStringResponse>();
  THTTPAsyncContext* context = FHttp->Send(request.get(), response.get(), url);
  // From here the exchange owns its request and response.
  request.release();
  response.release();
  context->SetNeedDestroyAll(true);
  std::weak_ptr<int> alive = FAliveToken;
  context->Run(
      [this, alive, handler](THTTPAsyncContext* loaded) {
        if (!alive.expired()) (this->*handler)(*loaded);
      },
      true);
}

void TfLauncher::OnVersionChecked(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  if (response->HTTPStatus() != 200) {
    // A failed check does not keep the player from playing.
    QueueState(&TfLauncher::StateReady);
    return;
  }
  const std::wstring head = response->Result();
  if (head == FLastCommitHash) {
    QueueState(&TfLauncher::StateReady);
    return;
  }
  // The release channel may play on an older version; the test channel may not.
  const bool releaseChannel = FCurrentBranch == L"main";
  MainThread::Queue([head, releaseChannel] {
    if (!fLauncher) return;
    fLauncher->FNewCommitHash = head;
    if (releaseChannel) {
      fLauncher->StateUpdateOptional();
    } else {
      fLauncher->StateUpdateRequired();
    }
  });
}

void TfLauncher::BTN_UpdateClick() {
  if (FLocalPath.empty() && !ChooseInstallFolder()) return;
  FLauncherUpdated = false;
  LogMessage(L"Update", L"Begin");
  SendUpdateEvent(L"begin", false);
  // The run itself (write access, launcher check, change list, downloads)
  // starts here once it exists; until then the controls stay as they are.
  if (!FLastCommitHash.empty()) FProcessingHash = FLastCommitHash;
}
