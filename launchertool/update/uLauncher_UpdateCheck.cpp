// The start-up check against the repository.
#include <utility>

#include "FileSystem.h"
#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "URL.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/CommitHash.h"
#include "update/ExchangeSet.h"
#include "update/RepositoryRequests.h"

void TfLauncher::tmrUpdateTimer() {
  SetUpdateTimer(false);
  if (!FLocalPath.empty() && FileExists(GetGameExePath()) && !FLastCommitHash.empty()) {
    StateChecking(false);
    RequestHeadCommit();
  } else {
    // Nothing playable is installed: the only way on is an update.
    FNewCommitHash.clear();
    FLastCommitHash.clear();
    StateUpdateRequired();
  }
}

void TfLauncher::RequestHeadCommit() {
  CreateHttpClients();
  if (!FCheckExchanges) FCheckExchanges = std::make_unique<TExchangeSet>(FHttp);
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch;
  auto reply = std::make_shared<std::pair<int32_t, std::wstring>>();
  FCheckExchanges->Send(
      BuildRepositoryRequest(TRepositoryRequest::HeadCommit, args), std::make_unique<THTTPStringResponse>(),
      [reply](THTTPAsyncContext& context) {
        const auto& response = static_cast<const THTTPStringResponse&>(*context.Response());
        *reply = {response.HTTPStatus(), response.Result()};
      },
      [this, reply](std::shared_ptr<Exception> failure) {
        // A check without a reply is an error the player sees; the window
        // then stays in its checking state with only Exit usable.
        if (failure) {
          aplctnvnts1Exception(*failure);
          return;
        }
        OnVersionChecked(reply->first, reply->second);
      });
}

void TfLauncher::OnVersionChecked(int32_t status, const std::wstring& head) {
  // A failed check does not keep the player from playing.
  if (status != 200 || head == FLastCommitHash) {
    StateReady();
    return;
  }
  // Anything but a commit hash is no answer: the check failed.
  if (!IsCommitHash(head)) {
    LogMessage(L"Update", L"Head commit reply is not a commit hash");
    StateReady();
    return;
  }
  FNewCommitHash = head;
  // The release channel may play on an older version; the test channel may not.
  if (FCurrentBranch == L"main") {
    StateUpdateOptional();
  } else {
    StateUpdateRequired();
  }
}
