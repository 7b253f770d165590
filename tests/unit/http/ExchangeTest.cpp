// Whole exchanges against the local server, each case run synchronously and
// asynchronously through the same state machine.
#include "HttpTestSupport.h"

namespace {

struct TExchangeCase {
  const char* Name;
  TReply Reply;
  bool Post;
  size_t PostSize;
  bool OnlySuccess;
  int Status;
  std::string Written;  // what the stream response must hold
  uint32_t FinishSize;
};

std::vector<TExchangeCase> Cases() {
  const std::string large = PatternBody(300000);
  const std::string chunked = PatternBody(50000);
  TReply notFound{404, {{"Content-Type", "text/html"}}, "missing page"};
  return {
      {"body far larger than one read", {200, {}, large}, false, 0, true, 200, large, 300000},
      {"chunked reply", {200, {}, chunked, true}, false, 0, true, 200, chunked, 50000},
      {"empty body", {200, {}, ""}, false, 0, true, 200, "", 0},
      {"404 declined by an only-success response", notFound, false, 0, true, 404, "", 0},
      {"404 accepted by another response", notFound, false, 0, false, 404, "missing page", 12},
      {"post of 10000 bytes", {200, {}, "ok"}, true, 10000, true, 200, "ok", 2},
      {"post of 1 byte", {200, {}, "ok"}, true, 1, true, 200, "ok", 2},
      {"post of 4097 bytes", {200, {}, "ok"}, true, 4097, true, 200, "ok", 2},
      {"post of nothing", {200, {}, "ok"}, true, 0, true, 200, "ok", 2},
  };
}

class HttpExchange : public THttpTest, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(HttpExchange, DeliversBodiesAndStatuses) {
  const bool async = GetParam();
  THTTPClient client(kDefaultUserAgent, L"", L"", async);
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.Name);
    TTestServer server([&](const TSeenRequest&) { return c.Reply; });
    const std::string postBody = PatternBody(c.PostSize);
    auto probe = std::make_shared<TProbe>();
    THTTPRequest* request = c.Post ? static_cast<THTTPRequest*>(new THTTPPostRequestConstBuffer(Bytes(postBody)))
                                   : new THTTPGetRequest;
    auto* response = new TProbeResponse(probe, c.OnlySuccess);
    int status = 0;
    auto handlerCalls = std::make_shared<std::atomic<int>>(0);
    if (async) {
      StartAsync(client, request, response, server.Url("/file"), handlerCalls,
                 [&status](THTTPAsyncContext* context) { status = context->Response()->HTTPStatus(); });
      // The response goes with the context, after the handler.
      PumpUntil([&] { return probe->Destroyed == 1 || !Errors.empty(); });
      ASSERT_TRUE(Errors.empty()) << testing::PrintToString(Errors[0]->GetBaseException().Message());
      EXPECT_EQ(*handlerCalls, 1);
    } else {
      EXPECT_EQ(client.Send(request, response, UrlOf(server.Url("/file"))), nullptr);
      status = response->HTTPStatus();
      delete request;
      delete response;
    }
    EXPECT_EQ(status, c.Status);
    EXPECT_EQ(probe->FinishCalls, 1);
    EXPECT_EQ(probe->FinishSize, c.FinishSize);
    EXPECT_TRUE(probe->Data() == c.Written) << "received " << probe->Data().size() << " bytes";

    auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Method, c.Post ? "POST" : "GET");
    EXPECT_EQ(seen[0].Path, "/file");
    EXPECT_EQ(seen[0].Headers["accept"], "*/*");
    if (c.Post) {
      EXPECT_EQ(seen[0].Headers["content-length"], std::to_string(c.PostSize));
      EXPECT_TRUE(seen[0].Body == postBody) << "server received " << seen[0].Body.size() << " bytes";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, HttpExchange, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Asynchronous" : "Synchronous"; });
