#include <gtest/gtest.h>

#include <vector>

#include "HttpRequest.h"

TEST(HttpRequest, AddHeaderReplacesByExactName) {
  THTTPGetRequest request;
  EXPECT_EQ(request.GetHeaders(), L"");
  request.AddHeader(L"Content-Length: 5");
  request.AddHeader(L"Accept: application/vnd.github+json");
  request.AddHeader(L"Content-Length: 10");  // same name: replaced in place
  request.AddHeader(L"content-length: 7");   // other letter case: a new line
  request.AddHeader(L"Content-Length-Extra: 1");  // longer name: a new line
  EXPECT_EQ(request.GetHeaders(),
            L"Content-Length: 10\r\nAccept: application/vnd.github+json\r\ncontent-length: 7\r\n"
            L"Content-Length-Extra: 1");
}

TEST(HttpRequest, ConstBufferBodyGoesOutInChunks) {
  struct TCase {
    size_t Size;
    std::vector<int32_t> Chunks;
  };
  const TCase cases[] = {
      {0, {}}, {1, {1}}, {4096, {4096}}, {4097, {4096, 1}}, {8193, {4096, 4096, 1}}, {10000, {4096, 4096, 1808}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Size);
    std::vector<uint8_t> body(c.Size);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 13);
    THTTPPostRequestConstBuffer request(body);
    EXPECT_EQ(request.Method(), L"POST");
    EXPECT_EQ(request.GetHeaders(), L"Content-Length: " + std::to_wstring(c.Size));
    EXPECT_EQ(request.TotalDataLength(), 0);
    std::vector<int32_t> chunks;
    std::vector<uint8_t> sent;
    uint8_t buffer[4096];
    while (request.HaveDataToSend()) {
      int32_t n = request.GetNextDataChunk(buffer, sizeof(buffer));
      ASSERT_GT(n, 0);
      chunks.push_back(n);
      sent.insert(sent.end(), buffer, buffer + n);
    }
    EXPECT_EQ(chunks, c.Chunks);
    EXPECT_EQ(sent, body);
    EXPECT_EQ(request.GetNextDataChunk(buffer, sizeof(buffer)), 0);
  }
}

TEST(HttpRequest, UntypedBufferIsCopied) {
  char text[] = "abc";
  THTTPPostRequestConstBuffer request(text, 3);
  text[0] = 'X';
  char out[8] = {};
  EXPECT_EQ(request.GetNextDataChunk(out, sizeof(out)), 3);
  EXPECT_STREQ(out, "abc");
}
