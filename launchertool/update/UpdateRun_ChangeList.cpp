// The incremental path of an update run: the change lists in ".upgrade",
// followed from the installed commit up to the branch head.
#include "HttpResponse.h"
#include "uDebugUtils.h"
#include "update/ChangeList.h"
#include "update/RepositoryRequests.h"
#include "update/UpdateRun.h"

void TUpdateRun::GetChangesList() {
  // Every chain starts at the installed commit; a chain that comes back to
  // it is stopped before it gets here again.
  if (FProcessingHash == FSettings.LastCommitHash) FChangeListChain.assign(1, FProcessingHash);
  LogMessage(L"Update", L"Get changes list " + FSettings.Branch + L"/" + FProcessingHash);
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch;
  args.Hash = FProcessingHash;
  RequestText(BuildRepositoryRequest(TRepositoryRequest::ChangeList, args),
              [this](const TTextReply& reply) { OnChangesListLoaded(reply.Status, reply.Body); });
}

void TUpdateRun::RequestNextCommit() {
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch;
  args.Hash = FProcessingHash;
  RequestText(BuildRepositoryRequest(TRepositoryRequest::ChangeListCommits, args),
              [this](const TTextReply& reply) { OnNextCommitLoaded(reply.Status, reply.Body); });
}

void TUpdateRun::MarkForDownload(const std::wstring& path) {
  MarkPathForDownload(path, FFileListToDownload, FFileListToDelete);
}

void TUpdateRun::MarkForDelete(const std::wstring& path) {
  MarkPathForDelete(path, FFileListToDownload, FFileListToDelete);
}

void TUpdateRun::OnChangesListLoaded(int32_t status, const std::wstring& body) {
  if (status != 200) {
    // Without the change list the way on is the full walk, and the walk
    // decides everything: what earlier lists gathered may be stale (a file
    // deleted there may be back in the head).
    FFileListToDownload.clear();
    FFileListToDelete.clear();
    TryFullUpdate();
    return;
  }
  for (const TChangeOperation& operation : ParseChangeList(body)) {
    if (operation.Kind == TChangeOperation::coDelete) {
      MarkForDelete(operation.Path);
    } else {
      MarkForDownload(operation.Path);
    }
  }
  RequestNextCommit();
}

void TUpdateRun::OnNextCommitLoaded(int32_t status, const std::wstring& body) {
  const std::wstring next = NextChangeListCommit(status, body);
  if (next != FNewCommitHash) ContinueChangeListChain(FChangeListChain, next);
  FProcessingHash = next;
  if (next == FNewCommitHash) {
    BeginFileLoading();
  } else {
    GetChangesList();
  }
}
