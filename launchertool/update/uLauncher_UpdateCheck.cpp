// The start-up check against the repository.
#include "FileSystem.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "URL.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/CommitHash.h"
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
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch;
  SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::HeadCommit, args),
                  std::make_unique<THTTPStringResponse>(), handler);
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
  // Anything but a commit hash is no answer: the check failed.
  if (!IsCommitHash(head)) {
    LogMessage(L"Update", L"Head commit reply is not a commit hash");
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
