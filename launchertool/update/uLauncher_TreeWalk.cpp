// The full path of an update run: the repository's trees walked folder by
// folder, every file compared with its local copy by Git blob hash.
#include <ctime>

#include "HttpAsyncContext.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/CommitHash.h"
#include "update/DownloadError.h"
#include "update/ListSteps.h"
#include "update/RateLimit.h"
#include "update/RepositoryRequests.h"
#include "update/StepMessages.h"
#include "update/TreeReply.h"
#include "update/TreeWalk.h"

namespace {

void QueueFinishUpdate() {
  MainThread::Queue([] {
    if (fLauncher) fLauncher->FinishUpdate();
  });
}

// The finishing step runs before the report of a listing that failed; the
// error flag tells it that the lists are incomplete.
[[noreturn]] void FailTreeListing(TfLauncher& launcher, const std::wstring& message) {
  launcher.FErrorOnLoading = true;
  QueueFinishUpdate();
  throw EDownloadError(message);
}

std::wstring TreeFailedMessage(int32_t status) {
  std::wstring message = kTreeFailedMessage;
  message.replace(message.find(L"%d"), 2, std::to_wstring(status));
  return message;
}

void RequestRootTree(TfLauncher& launcher) {
  TRepositoryRequestArgs args;
  args.Branch = launcher.FCurrentBranch;
  args.Hash = launcher.FNewCommitHash;
  launcher.RequestTree(L"", BuildRepositoryRequest(TRepositoryRequest::RootTree, args).URL);
}

}  // namespace

void TfLauncher::TryFullUpdate() {
  LogMessage(L"Update", L"Try full update " + (FNewCommitHash.empty() ? FCurrentBranch : FNewCommitHash));
  // The root tree reply names the tree, not the commit: the commit to record
  // comes from the head request.
  if (FNewCommitHash.empty()) {
    RequestHeadCommit(&TfLauncher::OnFullUpdateHeadLoaded);
  } else {
    RequestRootTree(*this);
  }
}

void TfLauncher::OnFullUpdateHeadLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  HandleFullUpdateHeadReply(*this, response->HTTPStatus(), response->Result());
}

void TfLauncher::RequestTree(const std::wstring& folder, const std::wstring& url) {
  FCurrentFolder = folder;
  TRepositoryRequestArgs args;
  args.URL = url;
  SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::NestedTree, args),
                  std::make_unique<THTTPStringResponse>(), &TfLauncher::OnTreeLoaded);
}

void TfLauncher::OnTreeLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  TRateLimitReading rateLimit;
  rateLimit.Remaining = response->GetIntegerHeaderByName(L"x-ratelimit-remaining");
  rateLimit.Reset = response->GetIntegerHeaderByName(L"x-ratelimit-reset");
  HandleTreeReply(*this, response->HTTPStatus(), response->Result(), rateLimit);
}

void HandleFullUpdateHeadReply(TfLauncher& launcher, int32_t status, const std::wstring& body) {
  if (status != 200 || !IsCommitHash(body)) throw EDownloadError(kFileListFailedMessage);
  launcher.FNewCommitHash = body;
  RequestRootTree(launcher);
}

void HandleTreeReply(TfLauncher& launcher, int32_t status, const std::wstring& body,
                     const TRateLimitReading& rateLimit) {
  const std::wstring folder = launcher.FCurrentFolder;
  if (folder.empty()) CheckRateLimit(rateLimit.Remaining, rateLimit.Reset, std::time(nullptr));
  if (status != 200) FailTreeListing(launcher, TreeFailedMessage(status));
  const TTreeReply reply = ParseTreeReply(body);
  // A shortened listing would leave installed files off the full list.
  if (reply.Truncated) FailTreeListing(launcher, kFileListFailedMessage);
  const TTreeWalkLists lists{launcher.FFileListToDownload, launcher.FFullListToDownload, launcher.FURLsToDownload,
                             launcher.FExpectedBlobs, launcher.FFileListToDelete};
  ApplyTreeListing(reply, folder, launcher.FLocalPath, lists);
  const TTreeWalkNext next = NextTreeWalkStep(lists);
  switch (next.Kind) {
    case TTreeWalkNext::twNothingToLoad:
      launcher.WriteLastFile();
      launcher.FUpdateState = urNothing;
      QueueFinishUpdate();
      break;
    case TTreeWalkNext::twBeginLoading:
      launcher.BeginFileLoading();
      break;
    case TTreeWalkNext::twListFolder:
      LogMessage(L"Update", L"Load nested folders");
      launcher.RequestTree(next.Folder, next.URL);
      break;
  }
}
