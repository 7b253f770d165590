// Text responses choose their encoding from the content type or, for
// application/octet-stream, from a byte-order mark.
#include "HttpExceptions.h"
#include "HttpTestSupport.h"

namespace {

std::wstring AnsiDecoded(const std::string& bytes) {
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return text;
}

class HttpTextResponse : public THttpTest {};

}  // namespace

TEST_F(HttpTextResponse, CharsetOfTheContentTypeDecides) {
  const std::string utf8 = "caf\xC3\xA9";  // "café" in UTF-8
  const std::wstring asUtf8 = L"caf\u00E9";
  const std::wstring asLatin1 = L"caf\u00C3\u00A9";
  struct TCase {
    std::string ContentType;  // empty: no Content-Type header
    std::string Body;
    std::wstring Expected;
    bool InvalidName;
  };
  const TCase cases[] = {
      {"application/json; charset=utf-8", utf8, asUtf8, false},
      {"text/html; charset=utf-8; foo=bar", utf8, asUtf8, false},
      {"text/html; charset= UTF-8 ", utf8, asUtf8, false},
      {"text/plain", utf8, asLatin1, false},
      {"", utf8, asLatin1, false},
      {"text/html;charset=utf-8", utf8, asLatin1, false},
      {"text/html; Charset=utf-8", utf8, asLatin1, false},
      {"text/plain; charset=windows-1251", "\xEF\xF0\xE8\xE2\xE5\xF2", L"\u043F\u0440\u0438\u0432\u0435\u0442", false},
      {"text/plain; charset=utf-16le", std::string("h\0i\0", 4), L"hi", false},
      {"application/octet-stream", utf8, AnsiDecoded(utf8), false},
      {"application/octet-stream", "\xEF\xBB\xBF" + utf8, L"\uFEFF" + asUtf8, false},
      {"application/octet-stream", std::string("\xFF\xFEh\0i\0", 6), L"\uFEFFhi", false},
      {"application/octet-stream", std::string("\xFE\xFF\0h\0i", 6), L"\uFEFFhi", false},
      {"text/plain; charset=no-such-charset", utf8, L"", true},
  };
  THTTPClient client(kDefaultUserAgent, L"", L"", false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ContentType);
    TReply reply{200, {}, c.Body};
    if (!c.ContentType.empty()) reply.Headers.push_back({"Content-Type", c.ContentType});
    TTestServer server([&](const TSeenRequest&) { return reply; });
    THTTPGetRequest request;
    THTTPStringResponse response;
    if (c.InvalidName) {
      try {
        client.Send(&request, &response, UrlOf(server.Url("/text")));
        ADD_FAILURE() << "no exception";
      } catch (const EEncodingError& e) {
        EXPECT_EQ(e.Message(), L"Invalid encoding name");
      }
      continue;
    }
    client.Send(&request, &response, UrlOf(server.Url("/text")));
    EXPECT_EQ(response.HTTPStatus(), 200);
    EXPECT_EQ(response.Result(), c.Expected);
  }
}

TEST_F(HttpTextResponse, ErrorRepliesAreReadToo) {
  TTestServer server([](const TSeenRequest&) {
    return TReply{500, {{"Content-Type", "text/plain; charset=utf-8"}}, "broken"};
  });
  THTTPClient client(kDefaultUserAgent, L"", L"", false);
  THTTPGetRequest request;
  THTTPStringResponse response;
  client.Send(&request, &response, UrlOf(server.Url("/")));
  EXPECT_EQ(response.HTTPStatus(), 500);
  EXPECT_EQ(response.Result(), L"broken");
}

TEST_F(HttpTextResponse, ClassHelpers) {
  TTestServer server([](const TSeenRequest& seen) {
    if (seen.Path == "/missing") return TReply{404, {}, "no"};
    return TReply{200, {{"Content-Type", "text/plain; charset=utf-8"}}, "\xD0\xBF\xD1\x80\xD0\xB8"};
  });
  EXPECT_EQ(THTTPClient::Get(server.Url("/page")), L"\u043F\u0440\u0438");
  try {
    THTTPClient::Get(server.Url("/missing"));
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Wrong status: 404");
  }
  EXPECT_EQ(THTTPClient::Get(L"  "), L"");
  EXPECT_EQ(THTTPClient::GetAsyncString(L""), nullptr);

  THTTPAsyncContext* context = THTTPClient::GetAsyncString(server.Url("/page"));
  ASSERT_NE(context, nullptr);
  auto result = std::make_shared<std::wstring>();
  auto done = std::make_shared<std::atomic<bool>>(false);
  context->Run(
      [result, done](THTTPAsyncContext* c) {
        *result = static_cast<THTTPStringResponse*>(c->Response())->Result();
        *done = true;
      },
      true);
  PumpUntil([&] { return done->load() || !Errors.empty(); });
  ASSERT_TRUE(Errors.empty());
  EXPECT_EQ(*result, L"\u043F\u0440\u0438");
}

TEST(HttpTextResponseBounds, AReplyPastSixtyFourMebibytesIsRefusedBeforeItGrowsFurther) {
  THTTPStringResponse response;
  const std::string mebibyte(1024 * 1024, '{');
  for (int i = 0; i < 64; ++i) response.ReceiveData(mebibyte.data(), static_cast<uint32_t>(mebibyte.size()));
  EXPECT_THROW(response.ReceiveData("x", 1), EHTTPReplyTooLarge);
  EXPECT_EQ(response.DataSize(), THTTPStringResponse::kLargestText);
}
