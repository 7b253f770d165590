// The run's frame: its start, the head request, the one failure path and its end.
#include "update/UpdateRun.h"

#include <windows.h>

#include "HttpAsyncContext.h"
#include "HttpExceptions.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "maps/MapLoader.h"
#include "maps/uMapPacker.h"
#include "update/PlacedFiles.h"
#include "uDebugUtils.h"
#include "update/CommitHash.h"
#include "update/ConnectionRetry.h"
#include "update/DownloadError.h"
#include "update/RepositoryRequests.h"
#include "update/PlayerWords.h"
#include "update/StepMessages.h"

namespace {

// An abort is what a step raises once the run stopped: it says nothing new.
bool IsAbort(const Exception& e) {
  return e.Is<EAbort>() || (e.Is<EHTTPWrapperException>() && e.GetBaseException().Is<EAbort>());
}

}  // namespace

std::shared_ptr<TUpdateRun> TUpdateRun::Create(TUpdateRunSettings settings, TUpdateRunEvents& events) {
  return std::shared_ptr<TUpdateRun>(new TUpdateRun(std::move(settings), events));
}

TUpdateRun::TUpdateRun(TUpdateRunSettings settings, TUpdateRunEvents& events)
    : FSettings(std::move(settings)), FEvents(events), FExchanges(FSettings.Client) {
  FNewCommitHash = FSettings.NewCommitHash;
  FProcessingHash = FSettings.LastCommitHash;
}

TUpdateRun::~TUpdateRun() {
  if (!FEnded) LogMessage(L"Update", L"Update run cancelled");
  // The exchanges keep what they write into alive themselves; the packer is
  // waited for here, before the loaders it packs go.
  FCancelled->store(true);
  FExchanges.AbortAll();
  FMapPacker.reset();
  DiscardLoadingWork();
}

void TUpdateRun::Start() {
  // What a killed or cut-off run left behind goes before this run claims names.
  TemporaryRecord()->RemoveLeftovers();
  if (FSettings.LastCommitHash.empty()) {
    FNextUpdateState = [this] { TryFullUpdate(); };
  } else if (FNewCommitHash.empty()) {
    FNextUpdateState = [this] { TryGetVersion(); };
  } else {
    FNextUpdateState = [this] { GetChangesList(); };
  }
  Step([this] { TryGetNewLauncher(); });
}

std::shared_ptr<TTemporaryRecord> TUpdateRun::TemporaryRecord() {
  if (!FTemporaries) FTemporaries = std::make_shared<TTemporaryRecord>(FSettings.LocalPath);
  return FTemporaries;
}

void TUpdateRun::StartPacker() {
  FMapPacker = std::make_unique<TMapPacker>(
      [run = weak_from_this()](const std::shared_ptr<TMapLoader>&) {
        if (auto alive = run.lock()) alive->Post([](TUpdateRun& self) { self.Status(TUpdateRunStatus::Packing); });
      },
      [run = weak_from_this()](const std::shared_ptr<TMapLoader>&, std::shared_ptr<Exception> failure) {
        if (auto alive = run.lock()) {
          alive->Post([failure](TUpdateRun& self) { self.Step([&] { self.MapPacked(failure); }); });
        }
      });
}

void TUpdateRun::Post(std::function<void(TUpdateRun&)> call) {
  MainThread::Queue([run = weak_from_this(), call = std::move(call)] {
    if (auto alive = run.lock()) call(*alive);
  });
}

void TUpdateRun::TryGetVersion() {
  LogMessage(L"Update", L"Try get version");
  RequestHeadCommit(&TUpdateRun::OnVersionLoaded);
}

void TUpdateRun::OnVersionLoaded(int32_t status, const std::wstring& body) {
  if (status != 200) {
    TryFullUpdate();
    return;
  }
  // The head goes into request paths and into .last.
  if (!IsCommitHash(body)) throw EDownloadError(kFileListFailedMessage);
  FNewCommitHash = body;
  if (FNewCommitHash != FSettings.LastCommitHash) {
    GetChangesList();
    return;
  }
  FinishUpdate();
}

void TUpdateRun::RequestHeadCommit(void (TUpdateRun::*handler)(int32_t status, const std::wstring& body)) {
  TRepositoryRequestArgs args;
  args.Branch = FSettings.Branch;
  RequestText(BuildRepositoryRequest(TRepositoryRequest::HeadCommit, args),
              [this, handler](const TTextReply& reply) { (this->*handler)(reply.Status, reply.Body); });
}

void TUpdateRun::RequestText(const TRepositoryRequestTarget& target, TTextHandler handler) {
  SendText(target, std::make_shared<TTextHandler>(std::move(handler)), std::make_shared<TRetryCount>());
}

void TUpdateRun::SendText(const TRepositoryRequestTarget& target, const std::shared_ptr<TTextHandler>& handler,
                          const std::shared_ptr<TRetryCount>& count) {
  auto reply = std::make_shared<TTextReply>();
  FExchanges.Send(
      target, std::make_unique<THTTPStringResponse>(),
      [reply](THTTPAsyncContext& context) {
        const auto& response = static_cast<const THTTPStringResponse&>(*context.Response());
        reply->Status = response.HTTPStatus();
        RaiseIfTransientStatus(reply->Status, response.GetIntegerHeaderByName(L"Retry-After"),
                               L"The repository service answered");
        reply->Body = response.Result();
        reply->RateLimit.Remaining = response.GetIntegerHeaderByName(L"x-ratelimit-remaining");
        reply->RateLimit.Reset = response.GetIntegerHeaderByName(L"x-ratelimit-reset");
      },
      [this, target, reply, handler, count](std::shared_ptr<Exception> failure) {
        Step([&] {
          if (!failure) {
            Retried();
            (*handler)(*reply);
          } else if (!RetryLater(*count, target.URL, *failure, [this, target, handler, count] {
                       SendText(target, handler, count);
                     }, [] {})) {
            Fail(failure);
          }
        });
      });
}

void TUpdateRun::Step(const std::function<void()>& step) {
  if (FEnded) return;
  try {
    step();
  } catch (...) {
    Fail(CurrentExceptionAsObject());
  }
  EndWhenIdle();
}

void TUpdateRun::Fail(std::shared_ptr<Exception> error) {
  if (!error) return;
  error = InPlayersWords(error, FSettings.LocalPath);
  if (FFailure || FEnded) {
    // The first failure was reported; what the winding down raises is not news.
    if (!IsAbort(*error)) LogError(*error);
    return;
  }
  FFailure = error;
  FCancelled->store(true);
  FSlots.Stop();
  // Held or slow exchanges end now instead of when the server lets them.
  FExchanges.AbortAll();
  GiveUpWaitingRetries();
  if (IsAbort(*error)) {
    LogMessage(L"Update", L"Update run aborted: " + error->Message());
    return;
  }
  // Posted: the error box runs its own message loop, which must not find
  // the run in the middle of a step.
  Post([error](TUpdateRun& self) { self.FEvents.RunFailed(*error); });
}

void TUpdateRun::EndWhenIdle() {
  if (FEnded || FFinishing) return;
  const bool idle =
      FExchanges.Open() == 0 && FSlots.Loading() == 0 && FSlots.HandedOn() == 0 && FWaitingRetries.empty();
  if (FFailure) {
    if (idle) FinishUpdate();
  } else if (FDownloading && FSlots.Ended()) {
    FinishUpdate();
  }
}

void TUpdateRun::End(TUpdateRunEnd::TOutcome outcome) {
  FEnded = true;
  TUpdateRunEnd end;
  end.Outcome = FFailure ? TUpdateRunEnd::Failed : outcome;
  end.NewCommitHash = FNewCommitHash;
  end.ProcessingHash = FProcessingHash;
  end.LauncherUpdated = FLauncherUpdated;
  Post([end](TUpdateRun& self) { self.FEvents.RunFinished(end); });
}

void TUpdateRun::Status(TUpdateRunStatus status) {
  FRetryShown = false;
  FPackingShown = status == TUpdateRunStatus::Packing;
  FEvents.RunStatus(status);
}

void TUpdateRun::AddProgress() {
  ++FProgress;
  FEvents.RunProgress(FProgress, FDownloadLength);
}

void TUpdateRun::DiscardLoadingWork() {
  // The packer is stopped before the loaders go; a loader removes its new
  // archive when it goes unless the archive took the place of <map>.zip.
  FMapPacker.reset();
  FLoadedMaps.clear();
  FPlainFilesToLoad.clear();
}
