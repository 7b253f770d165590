// The full path of an update run: the repository's trees walked folder by
// folder, every file compared with its local copy by Git blob hash.
#include <ctime>

#include "uDebugUtils.h"
#include "update/CommitHash.h"
#include "update/DownloadError.h"
#include "update/RateLimit.h"
#include "update/RepositoryRequests.h"
#include "update/StepMessages.h"
#include "update/TreeReply.h"
#include "update/TreeWalk.h"
#include "update/UpdateRun.h"

namespace {

TRepositoryRequestTarget RootTreeRequest(const std::wstring& branch, const std::wstring& head) {
  TRepositoryRequestArgs args;
  args.Branch = branch;
  args.Hash = head;
  return BuildRepositoryRequest(TRepositoryRequest::RootTree, args);
}

std::wstring TreeFailedMessage(int32_t status) {
  std::wstring message = kTreeFailedMessage;
  message.replace(message.find(L"%d"), 2, std::to_wstring(status));
  return message;
}

}  // namespace

void TUpdateRun::TryFullUpdate() {
  LogMessage(L"Update",
             L"Try full update " + (FNewCommitHash.empty() ? FSettings.Branch : FNewCommitHash));
  // The root tree reply names the tree, not the commit: the commit to record
  // comes from the head request.
  if (FNewCommitHash.empty()) {
    RequestHeadCommit(&TUpdateRun::OnFullUpdateHeadLoaded);
    return;
  }
  RequestTree(L"", RootTreeRequest(FSettings.Branch, FNewCommitHash).URL);
}

void TUpdateRun::OnFullUpdateHeadLoaded(int32_t status, const std::wstring& body) {
  if (status != 200 || !IsCommitHash(body)) throw EDownloadError(kFileListFailedMessage);
  FNewCommitHash = body;
  RequestTree(L"", RootTreeRequest(FSettings.Branch, FNewCommitHash).URL);
}

void TUpdateRun::RequestTree(const std::wstring& folder, const std::wstring& url) {
  FCurrentFolder = folder;
  TRepositoryRequestArgs args;
  args.URL = url;
  RequestText(BuildRepositoryRequest(TRepositoryRequest::NestedTree, args),
              [this](const TTextReply& reply) { OnTreeLoaded(reply.Status, reply.Body, reply.RateLimit); });
}

void TUpdateRun::OnTreeLoaded(int32_t status, const std::wstring& body, const TRateLimitReading& rateLimit) {
  const std::wstring folder = FCurrentFolder;
  if (folder.empty()) CheckRateLimit(rateLimit.Remaining, rateLimit.Reset, std::time(nullptr));
  if (status != 200) throw EDownloadError(TreeFailedMessage(status));
  const TTreeReply reply = ParseTreeReply(body);
  // A shortened listing would leave installed files off the full list.
  if (reply.Truncated) throw EDownloadError(kFileListFailedMessage);
  ApplyTreeListing(reply, folder, FSettings.LocalPath, Lists());
  const TTreeWalkNext next = NextTreeWalkStep(Lists());
  switch (next.Kind) {
    case TTreeWalkNext::twNothingToLoad:
      // Finishing writes .last (and runs the walk's cleanup).
      FUpdateState = urNothing;
      FinishUpdate();
      break;
    case TTreeWalkNext::twBeginLoading:
      BeginFileLoading();
      break;
    case TTreeWalkNext::twListFolder:
      LogMessage(L"Update", L"Load nested folders");
      RequestTree(next.Folder, next.URL);
      break;
  }
}
