#include "update/ExchangeSet.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpExceptions.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "URL.h"
#include "uDebugUtils.h"
#include "update/RepositoryRequests.h"

namespace {

// How many exchanges of all sets are still alive.
struct TAliveExchanges {
  std::mutex Lock;
  std::condition_variable Freed;
  int32_t Count = 0;
};

TAliveExchanges& AliveExchanges() {
  static TAliveExchanges* alive = new TAliveExchanges;  // outlives every worker thread
  return *alive;
}

}  // namespace

// Reached from worker threads: the set while it exists (read on the main
// thread only).
struct TExchangeSet::TShared {
  TExchangeSet* Owner = nullptr;

  static void Post(const std::weak_ptr<TShared>& shared, uint64_t id, std::shared_ptr<Exception> failure) {
    MainThread::Queue([shared, id, failure = std::move(failure)] {
      if (auto alive = shared.lock()) {
        if (alive->Owner) alive->Owner->Report(id, failure);
      }
    });
  }
};

// Held by the exchange's handlers, so it goes when the exchange is freed.
struct TExchangeSet::TLife {
  TLife(std::shared_ptr<TShared> shared, uint64_t id, TArrived arrived)
      : Shared(std::move(shared)), Id(id), Arrived(std::move(arrived)) {
    std::lock_guard<std::mutex> lock(AliveExchanges().Lock);
    ++AliveExchanges().Count;
  }
  ~TLife() {
    // An exchange closed without a reply or a failure still reports once.
    try {
      TShared::Post(Shared, Id, std::make_shared<EAbort>(L"The exchange was closed"));
    } catch (...) {
    }
    Arrived = nullptr;
    TAliveExchanges& alive = AliveExchanges();
    {
      std::lock_guard<std::mutex> lock(alive.Lock);
      --alive.Count;
    }
    alive.Freed.notify_all();
  }
  TLife(const TLife&) = delete;
  TLife& operator=(const TLife&) = delete;

  std::shared_ptr<TShared> Shared;
  uint64_t Id;
  TArrived Arrived;
};

TExchangeSet::TExchangeSet(std::shared_ptr<THTTPClient> client)
    : FClient(std::move(client)), FShared(std::make_shared<TShared>()) {
  FShared->Owner = this;
}

TExchangeSet::~TExchangeSet() {
  FShared->Owner = nullptr;
  for (auto& [id, entry] : FOpen) {
    if (auto context = entry.Context.lock()) context->Dispose();
  }
}

void TExchangeSet::Send(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response,
                        TArrived arrived, TDone done) {
  if (!FClient) throw Exception(L"No HTTP client for this update run");
  TURL url;
  url.From(target.URL);
  auto request = std::make_unique<THTTPGetRequest>();
  if (!target.Header.empty()) request->AddHeader(target.Header);
  if (!target.Range.empty()) request->AddHeader(target.Range);
  request->SetUseSSL(url.Scheme == L"https");
  THTTPAsyncContext* context = FClient->Send(request.get(), response.get(), url);
  // From here the exchange owns its request and response.
  request.release();
  response.release();
  context->SetNeedDestroyAll(true);

  const uint64_t id = ++FNextId;
  auto life = std::make_shared<TLife>(FShared, id, std::move(arrived));
  FOpen[id] = TEntry{std::move(done), context->weak_from_this()};
  context->SetOnFailed([life](std::shared_ptr<EHTTPWrapperException> failure) {
    // Closed at once: the report may stay queued for a while.
    if (auto failed = failure->Context()) failed->Dispose();
    TShared::Post(life->Shared, life->Id, std::move(failure));
  });
  try {
    context->Run(
        [life](THTTPAsyncContext* loaded) {
          std::shared_ptr<Exception> failure;
          try {
            if (life->Arrived) life->Arrived(*loaded);
          } catch (...) {
            failure = CurrentExceptionAsObject();
          }
          TShared::Post(life->Shared, life->Id, std::move(failure));
        },
        true);
  } catch (...) {
    FOpen.erase(id);
    throw;
  }
}

void TExchangeSet::AbortAll() {
  for (auto& [id, entry] : FOpen) {
    if (auto context = entry.Context.lock()) context->Dispose();
    // Posted, not called: the owner is in the middle of a step.
    TShared::Post(FShared, id, std::make_shared<EAbort>(L"The exchange was closed"));
  }
}

bool TExchangeSet::WaitForAllFreed(uint32_t timeoutMs) {
  TAliveExchanges& alive = AliveExchanges();
  std::unique_lock<std::mutex> lock(alive.Lock);
  const bool freed =
      alive.Freed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&alive] { return alive.Count == 0; });
  if (!freed) LogMessage(L"Update", L"Downloads still open at exit: " + std::to_wstring(alive.Count));
  return freed;
}

void TExchangeSet::Report(uint64_t id, std::shared_ptr<Exception> failure) {
  auto entry = FOpen.find(id);
  if (entry == FOpen.end()) return;
  TDone done = std::move(entry->second.Done);
  FOpen.erase(entry);
  done(std::move(failure));
}
