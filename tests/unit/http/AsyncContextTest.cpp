// The life of asynchronous exchanges: handlers, failures carried to the main
// thread, disposal, abort tests, refused connections and timeouts.
#include "HttpTestSupport.h"

namespace {

class HttpAsync : public THttpTest {
 protected:
  THTTPClient Client{kDefaultUserAgent, L"", L"", true};
};

TReply Ok(std::string body) { return TReply{200, {}, std::move(body)}; }

TReply Silent() {
  TReply reply;
  reply.NeverAnswer = true;
  return reply;
}

}  // namespace

TEST_F(HttpAsync, HeadersByNameInsideTheHandler) {
  TTestServer server([](const TSeenRequest&) {
    return TReply{200, {{"x-ratelimit-remaining", "4711"}, {"x-note", "text"}}, "{}"};
  });
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  uint32_t remaining = 1, reset = 1, note = 1;
  StartAsync(Client, new THTTPGetRequest, new TProbeResponse(probe, true), server.Url("/"), calls,
             [&](THTTPAsyncContext* c) {
               remaining = c->Response()->GetIntegerHeaderByName(L"x-ratelimit-remaining");
               reset = c->Response()->GetIntegerHeaderByName(L"x-ratelimit-reset");
               note = c->Response()->GetIntegerHeaderByName(L"x-note");
             });
  PumpUntil([&] { return probe->Destroyed == 1; });
  EXPECT_EQ(remaining, 4711u);
  EXPECT_EQ(reset, 0u);
  EXPECT_EQ(note, 0u);
}

TEST_F(HttpAsync, SecondRunIsRefusedAndTheFirstCompletes) {
  const std::string body = PatternBody(20000);
  TTestServer server([&](const TSeenRequest&) { return Ok(body); });
  server.Hold();
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  THTTPAsyncContext* context =
      StartAsync(Client, new THTTPGetRequest, new TProbeResponse(probe, true), server.Url("/"), calls);
  // The server holds its reply, so the exchange is still running here.
  try {
    context->Run();
    ADD_FAILURE() << "no exception";
  } catch (const EHTTPAlreadyRunning& e) {
    EXPECT_EQ(e.Message(), L"Request already started");
  }
  server.Release();
  PumpUntil([&] { return probe->Destroyed == 1 || !Errors.empty(); });
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(*calls, 1);
  EXPECT_TRUE(probe->Data() == body);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HttpAsync, HandlerExceptionReachesMainThreadAndDisposesOnce) {
  TTestServer server([](const TSeenRequest&) { return Ok("data"); });
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  StartAsync(Client, new THTTPGetRequest, new TProbeResponse(probe, true), server.Url("/"), calls,
             [](THTTPAsyncContext*) { throw EArgumentException(L"handler failed"); });
  PumpUntil([&] { return !Errors.empty(); });
  {
    const auto& wrapper = OnlyWrapper();
    EXPECT_STREQ(wrapper.GetBaseException().ClassName(), L"EArgumentException");
    EXPECT_EQ(wrapper.GetBaseException().Message(), L"handler failed");
    auto context = wrapper.Context();
    EXPECT_TRUE(!context || context->Disposed());
  }
  // Disposed by the end of the load already; the context goes without the
  // wrapper's help, and dropping the wrapper then changes nothing.
  PumpUntil([&] { return probe->Destroyed == 1; });
  Errors.clear();
  MainThread::ProcessPending();
  EXPECT_EQ(probe->Destroyed, 1);
  EXPECT_EQ(*calls, 1);
  EXPECT_EQ(probe->FinishCalls, 1);
}

TEST_F(HttpAsync, AbortTestStopsDownloadAfterWritingTheChunk) {
  const std::string body = PatternBody(2 * 1024 * 1024);
  TTestServer server([&](const TSeenRequest&) { return Ok(body); });
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  auto tests = std::make_shared<int>(0);
  auto writtenAtAbort = std::make_shared<int64_t>(-1);
  auto isTerminated = [probe, tests, writtenAtAbort] {
    if (++*tests < 3) return false;
    *writtenAtAbort = probe->Stream.GetSize();
    return true;
  };
  StartAsync(Client, new THTTPGetRequest, new TProbeResponse(probe, true, isTerminated), server.Url("/big"), calls);
  PumpUntil([&] { return !Errors.empty(); });
  const auto& wrapper = OnlyWrapper();
  EXPECT_STREQ(wrapper.GetBaseException().ClassName(), L"EAbort");
  EXPECT_EQ(*calls, 0);
  EXPECT_EQ(probe->FinishCalls, 0);
  EXPECT_EQ(*tests, 3);
  // The third chunk was written before the test stopped the download.
  EXPECT_GT(*writtenAtAbort, 0);
  EXPECT_EQ(probe->Stream.GetSize(), *writtenAtAbort);
  EXPECT_LT(*writtenAtAbort, static_cast<int64_t>(body.size()));
  EXPECT_TRUE(probe->Data() == body.substr(0, static_cast<size_t>(*writtenAtAbort)));
  // The pending wrapper keeps the failed exchange; dropping it releases it.
  EXPECT_EQ(probe->Destroyed, 0);
  Errors.clear();
  PumpUntil([&] { return probe->Destroyed == 1; });
}

TEST_F(HttpAsync, RefusedConnectionNamesSendRequest) {
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  StartAsync(Client, new THTTPGetRequest, new TProbeResponse(probe, true),
             L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/", calls);
  PumpUntil([&] { return !Errors.empty(); });
  const auto& wrapper = OnlyWrapper();
  auto* error = dynamic_cast<const EHTTPCallbackError*>(&wrapper.GetBaseException());
  ASSERT_NE(error, nullptr) << testing::PrintToString(wrapper.GetBaseException().Message());
  EXPECT_EQ(error->ErrorCode, 12029u);
  EXPECT_EQ(error->Message().rfind(L"System Error.  Code: 12029.\r\n", 0), 0u);
  EXPECT_TRUE(error->Message().ends_with(L" in function WinHttpSendRequest"));
  EXPECT_NE(wrapper.Context(), nullptr);
  EXPECT_EQ(*calls, 0);
  Errors.clear();
  PumpUntil([&] { return probe->Destroyed == 1; });
}

TEST_F(HttpAsync, SilentServerEndsInATimeout) {
  TTestServer server([](const TSeenRequest&) { return Silent(); });
  THTTPClient client;
  client.ReceiveTimeout = 300;
  client.SendTimeout = 300;
  client.InitSession(kDefaultUserAgent, L"", L"", true);
  auto probe = std::make_shared<TProbe>();
  auto calls = std::make_shared<std::atomic<int>>(0);
  StartAsync(client, new THTTPGetRequest, new TProbeResponse(probe, true), server.Url("/"), calls);
  PumpUntil([&] { return !Errors.empty(); });
  const auto& wrapper = OnlyWrapper();
  auto* error = dynamic_cast<const EHTTPCallbackError*>(&wrapper.GetBaseException());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->ErrorCode, TimeoutErrorCode());
  EXPECT_TRUE(error->Message().ends_with(L" in function WinHttpReceiveResponse")) << testing::PrintToString(error->Message());
  Errors.clear();
  PumpUntil([&] { return probe->Destroyed == 1; });
}

TEST_F(HttpAsync, ClientWithoutSessionRefusesToStart) {
  THTTPClient client;
  EXPECT_FALSE(client.HasSession());
  THTTPGetRequest request;
  THTTPResponse response;
  EXPECT_THROW(client.Send(&request, &response, UrlOf(L"http://127.0.0.1/")), EHTTPNoSession);
  EXPECT_EQ(response.Context(), nullptr);
}

class HttpSync : public THttpTest {};

TEST_F(HttpSync, FailuresRaiseFromSendAndCloseTheHandles) {
  TTestServer silent([](const TSeenRequest&) { return Silent(); });
  struct TCase {
    const char* Name;
    std::wstring Url;
    uint32_t Code;
  };
  const TCase cases[] = {
      {"refused", L"http://127.0.0.1:" + std::to_wstring(UnusedPort()) + L"/", ERROR_WINHTTP_CANNOT_CONNECT},
      {"never answered", silent.Url("/"), TimeoutErrorCode()},
  };
  THTTPClient client;
  client.ReceiveTimeout = 300;
  client.SendTimeout = 300;
  client.InitSession(kDefaultUserAgent, L"", L"", false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    THTTPGetRequest request;
    auto probe = std::make_shared<TProbe>();
    TProbeResponse response(probe, true);
    try {
      client.Send(&request, &response, UrlOf(c.Url));
      ADD_FAILURE() << "no exception";
    } catch (const EHTTPCallbackError& e) {
      EXPECT_EQ(e.ErrorCode, c.Code) << testing::PrintToString(e.Message());
    }
    // The exchange is gone (its handles closed); request and response stay ours.
    EXPECT_EQ(response.Context(), nullptr);
    EXPECT_EQ(probe->Destroyed, 0);
    EXPECT_EQ(probe->FinishCalls, 0);
  }
}

TEST_F(HttpAsync, HandlerSetAfterTheEndRunsAtOnce) {
  TTestServer server([](const TSeenRequest&) { return Ok("late"); });
  auto probe = std::make_shared<TProbe>();
  THTTPAsyncContext* context = Client.Send(new THTTPGetRequest, new TProbeResponse(probe, true), UrlOf(server.Url("/")));
  context->SetNeedDestroyAll(true);
  // Without a handler and without DisposeAfterLoad the finished exchange stays.
  context->Run(nullptr, false);
  PumpUntil([&] { return context->IsClosed(); });
  EXPECT_EQ(probe->Destroyed, 0);
  std::wstring seenByHandler;
  context->SetDisposeAfterLoad(true);
  context->SetOnEndLoad([&](THTTPAsyncContext* c) { seenByHandler = std::to_wstring(c->Response()->DataSize()); });
  EXPECT_EQ(seenByHandler, L"4");
  PumpUntil([&] { return probe->Destroyed == 1; });
}

TEST_F(HttpAsync, UnstartedExchangeIsFreedByDispose) {
  auto probe = std::make_shared<TProbe>();
  THTTPAsyncContext* context =
      Client.Send(new THTTPGetRequest, new TProbeResponse(probe, true), UrlOf(L"http://127.0.0.1:9/"));
  context->SetNeedDestroyAll(true);
  context->Dispose();
  PumpUntil([&] { return probe->Destroyed == 1; });
  EXPECT_TRUE(Errors.empty());
}
