// The exchanges of an owner: bytes on a worker thread, the report on the main
// thread exactly once, closing reports at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "../http/TestServer.h"
#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpExceptions.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "update/ExchangeSet.h"
#include "update/RepositoryRequests.h"

namespace {

class ExchangeSetTest : public testing::Test {
 protected:
  void SetUp() override {
    MainThread::Initialize();
    MainThread::ProcessPending();
  }
  void TearDown() override {
    // Every exchange of a test is gone before the next one counts.
    EXPECT_TRUE(TExchangeSet::WaitForAllFreed(70000));
    MainThread::ProcessPending();
  }

  std::shared_ptr<THTTPClient> Client() { return std::make_shared<THTTPClient>(L"test", L"", L"", true); }

  struct TOutcome {
    int Reports = 0;
    std::shared_ptr<Exception> Failure;
    bool ReportedOnMainThread = true;
  };
  TExchangeSet::TDone Recorder(TOutcome& outcome) {
    return [&outcome](std::shared_ptr<Exception> failure) {
      ++outcome.Reports;
      outcome.Failure = std::move(failure);
      outcome.ReportedOnMainThread = outcome.ReportedOnMainThread && MainThread::IsMainThread();
    };
  }
};

TEST_F(ExchangeSetTest, ARepliesBytesAreReadOnAWorkerAndTheReportComesOnTheMainThreadOnce) {
  TTestServer server([](const TSeenRequest&) { return TReply{200, {}, "body"}; });
  TExchangeSet set(Client());
  std::atomic<bool> arrivedOnWorker{false};
  auto body = std::make_shared<std::wstring>();
  TOutcome outcome;
  set.Send({server.Url("/file"), L"X-Test: 1", L""}, std::make_unique<THTTPStringResponse>(),
           [&arrivedOnWorker, body](THTTPAsyncContext& context) {
             arrivedOnWorker = !MainThread::IsMainThread();
             *body = static_cast<THTTPStringResponse&>(*context.Response()).Result();
           },
           Recorder(outcome));
  EXPECT_EQ(set.Open(), 1u);
  ASSERT_TRUE(MainThread::PumpUntil([&] { return outcome.Reports > 0; }, 30000));
  EXPECT_TRUE(TExchangeSet::WaitForAllFreed(30000));
  MainThread::ProcessPending();
  EXPECT_EQ(outcome.Reports, 1);
  EXPECT_FALSE(outcome.Failure);
  EXPECT_TRUE(outcome.ReportedOnMainThread);
  EXPECT_TRUE(arrivedOnWorker);
  EXPECT_EQ(*body, L"body");
  EXPECT_EQ(set.Open(), 0u);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Headers["x-test"], "1");
}

TEST_F(ExchangeSetTest, FailuresOfTheExchangeOrOfItsBytesAreTheOwnersNotTheLastChanceHandlers) {
  std::vector<std::shared_ptr<Exception>> raised;
  MainThread::SetExceptionHandler([&](const Exception& e) { raised.push_back(e.Clone()); });
  TTestServer server([](const TSeenRequest&) { return TReply{200, {}, "body"}; });
  TExchangeSet set(Client());
  TOutcome refused, unreachable;
  set.Send({server.Url("/file"), L"", L""}, std::make_unique<THTTPStringResponse>(),
           [](THTTPAsyncContext&) { throw EAbort(L"refused"); }, Recorder(refused));
  set.Send({L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/x", L"", L""},
           std::make_unique<THTTPStringResponse>(), nullptr, Recorder(unreachable));
  ASSERT_TRUE(MainThread::PumpUntil([&] { return refused.Reports > 0 && unreachable.Reports > 0; }, 60000));
  EXPECT_TRUE(TExchangeSet::WaitForAllFreed(30000));
  MainThread::ProcessPending();
  EXPECT_EQ(refused.Reports, 1);
  ASSERT_TRUE(refused.Failure);
  EXPECT_EQ(refused.Failure->Message(), L"refused");
  EXPECT_EQ(unreachable.Reports, 1);
  ASSERT_TRUE(unreachable.Failure);
  EXPECT_TRUE(unreachable.Failure->Is<EHTTPWrapperException>()) << unreachable.Failure->Message();
  EXPECT_TRUE(raised.empty());
  MainThread::SetExceptionHandler(nullptr);
}

TEST_F(ExchangeSetTest, ClosingAHeldExchangeReportsItAtOnceAndOnlyOnce) {
  TTestServer server([](const TSeenRequest&) {
    TReply reply;
    reply.NeverAnswer = true;
    return reply;
  });
  TOutcome held;
  {
    TExchangeSet set(Client());
    set.Send({server.Url("/held"), L"", L""}, std::make_unique<THTTPStringResponse>(), nullptr, Recorder(held));
    ASSERT_TRUE(MainThread::PumpUntil([&] { return !server.Requests().empty(); }, 30000));
    set.AbortAll();
    ASSERT_TRUE(MainThread::PumpUntil([&] { return held.Reports > 0; }, 5000));
    EXPECT_EQ(set.Open(), 0u);
  }
  MainThread::PumpUntil([] { return false; }, 200);
  EXPECT_EQ(held.Reports, 1);
  ASSERT_TRUE(held.Failure);
  EXPECT_TRUE(held.Failure->Is<EAbort>());
}

TEST_F(ExchangeSetTest, WithoutAClientNothingIsSent) {
  TExchangeSet set(nullptr);
  TOutcome outcome;
  EXPECT_THROW(set.Send({L"http://127.0.0.1:1/x", L"", L""}, std::make_unique<THTTPStringResponse>(), nullptr,
                        Recorder(outcome)),
               Exception);
  EXPECT_EQ(set.Open(), 0u);
}

}  // namespace
