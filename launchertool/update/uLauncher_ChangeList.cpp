// The incremental path of an update run: the change lists in ".upgrade",
// followed from the installed commit up to the branch head.
#include "HttpAsyncContext.h"
#include "HttpResponse.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "update/ChangeList.h"
#include "update/ListSteps.h"
#include "update/RepositoryRequests.h"

void TfLauncher::GetChangesList() {
  // Every chain starts at the installed commit; a chain that comes back to
  // it is stopped before it gets here again.
  if (FProcessingHash == FLastCommitHash) FChangeListChain.assign(1, FProcessingHash);
  LogMessage(L"Update", L"Get changes list " + FCurrentBranch + L"/" + FProcessingHash);
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch;
  args.Hash = FProcessingHash;
  SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::ChangeList, args),
                  std::make_unique<THTTPStringResponse>(), &TfLauncher::OnChangesListLoaded);
}

void TfLauncher::OnChangesListLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  HandleChangesListReply(*this, response->HTTPStatus(), response->Result());
}

void TfLauncher::RequestNextCommit() {
  TRepositoryRequestArgs args;
  args.Branch = FCurrentBranch;
  args.Hash = FProcessingHash;
  SendStepRequest(BuildRepositoryRequest(TRepositoryRequest::ChangeListCommits, args),
                  std::make_unique<THTTPStringResponse>(), &TfLauncher::OnNextCommitLoaded);
}

void TfLauncher::OnNextCommitLoaded(THTTPAsyncContext& context) {
  const auto* response = static_cast<const THTTPStringResponse*>(context.Response());
  HandleNextCommitReply(*this, response->HTTPStatus(), response->Result());
}

void TfLauncher::MarkForDownload(const std::wstring& path) {
  MarkPathForDownload(path, FFileListToDownload, FFileListToDelete);
}

void TfLauncher::MarkForDelete(const std::wstring& path) {
  MarkPathForDelete(path, FFileListToDownload, FFileListToDelete);
}

void HandleChangesListReply(TfLauncher& launcher, int32_t status, const std::wstring& body) {
  if (status != 200) {
    // Without the change list the way on is the full walk, and the walk
    // decides everything: what earlier lists gathered may be stale (a file
    // deleted there may be back in the head).
    launcher.FFileListToDownload.clear();
    launcher.FFileListToDelete.clear();
    launcher.TryFullUpdate();
    return;
  }
  for (const TChangeOperation& operation : ParseChangeList(body)) {
    if (operation.Kind == TChangeOperation::coDelete) {
      launcher.MarkForDelete(operation.Path);
    } else {
      launcher.MarkForDownload(operation.Path);
    }
  }
  launcher.RequestNextCommit();
}

void HandleNextCommitReply(TfLauncher& launcher, int32_t status, const std::wstring& body) {
  const std::wstring next = NextChangeListCommit(status, body);
  if (next != launcher.FNewCommitHash) ContinueChangeListChain(launcher.FChangeListChain, next);
  launcher.FProcessingHash = next;
  if (next == launcher.FNewCommitHash) {
    launcher.BeginFileLoading();
  } else {
    launcher.GetChangesList();
  }
}
