#include "AnalyticsSender.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Exceptions.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "URL.h"
#include "Utf8.h"

struct TAnalyticsSender::TShared {
  TPostAttempt Attempt;
  std::atomic<bool> Closing{false};
  std::mutex Lock;
  std::condition_variable Idle;
  int Running = 0;
};

namespace {

struct TPostTask {
  std::shared_ptr<TAnalyticsSender::TShared> Shared;
  std::string Body;
};

void RunPostTask(TPostTask& task) {
  for (int attempt = 0; attempt < kAnalyticsAttempts && !task.Shared->Closing.load(); ++attempt) {
    try {
      task.Shared->Attempt(task.Body);
      return;
    } catch (...) {
      // A failed post is retried at once and then dropped; nobody is told.
    }
  }
}

void CALLBACK PostTaskCallback(PTP_CALLBACK_INSTANCE, void* context) noexcept {
  std::unique_ptr<TPostTask> task(static_cast<TPostTask*>(context));
  try {
    RunPostTask(*task);
  } catch (...) {
  }
  std::shared_ptr<TAnalyticsSender::TShared> shared = std::move(task->Shared);
  task.reset();
  {
    std::lock_guard<std::mutex> guard(shared->Lock);
    --shared->Running;
  }
  shared->Idle.notify_all();
}

TAnalyticsSender::TPostAttempt HttpAttempt(std::shared_ptr<THTTPClient> client, const std::wstring& collectURL) {
  TURL url;
  url.From(collectURL);
  return [client = std::move(client), url](const std::string& body) {
    THTTPPostRequestConstBuffer request(body.data(), static_cast<int32_t>(body.size()));
    request.SetUseSSL(url.Scheme == L"https");
    request.AddHeader(L"Content-Type: application/json");
    THTTPResponse response;
    client->Send(&request, &response, url);
  };
}

}  // namespace

TAnalyticsSender::TAnalyticsSender(std::shared_ptr<THTTPClient> client, const std::wstring& collectURL)
    : TAnalyticsSender(HttpAttempt(std::move(client), collectURL)) {}

TAnalyticsSender::TAnalyticsSender(TPostAttempt attempt) : FShared(std::make_shared<TShared>()) {
  FShared->Attempt = std::move(attempt);
}

TAnalyticsSender::~TAnalyticsSender() {
  FShared->Closing = true;
  WaitIdle(kAnalyticsShutdownWaitMs);
}

void TAnalyticsSender::Post(const std::wstring& body) {
  auto task = std::make_unique<TPostTask>(TPostTask{FShared, ToUtf8(body)});
  {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    ++FShared->Running;
  }
  if (TrySubmitThreadpoolCallback(PostTaskCallback, task.get(), nullptr)) {
    task.release();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    --FShared->Running;
  }
  RaiseLastOSError();
}

bool TAnalyticsSender::WaitIdle(unsigned timeoutMs) const {
  std::unique_lock<std::mutex> guard(FShared->Lock);
  return FShared->Idle.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return FShared->Running == 0; });
}
