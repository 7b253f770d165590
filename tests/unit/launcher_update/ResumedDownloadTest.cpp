// A retried download continues the bytes its try before held; the whole file
// still proves itself before it replaces anything.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../http/TestServer.h"
#include "HttpClient.h"
#include "HttpRequest.h"
#include "URL.h"
#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"

namespace {

const std::string kWhole = "0123456789";
// git hash-object of "0123456789"
const TBlobId kBlob{"ad471007bd7f5983d273b9584e5629230150fd54", 10};

class ResumedDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() /
              (L"resumed-download-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(FFolder);
    std::ofstream(FFolder / L"f.txt", std::ios::binary) << "old content";
  }
  void TearDown() override { std::filesystem::remove_all(FFolder); }
  std::string Read(const std::wstring& name) {
    std::ifstream in(FFolder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::unique_ptr<TDownloadFileResponse> Response(std::shared_ptr<TDownloadTemporary> held = nullptr) {
    return std::make_unique<TDownloadFileResponse>(FFolder.wstring(), L"/f.txt", TSortedStringList{}, kBlob, nullptr,
                                                   nullptr, std::move(held));
  }
  // A first try that received the first five bytes, then lost its connection.
  std::shared_ptr<TDownloadTemporary> HalfReceived() {
    auto first = Response();
    first->ReceiveData(kWhole.data(), 5);
    return first->Temporary();
  }
  // The second try, sent to a server answering with reply.
  std::unique_ptr<TDownloadFileResponse> SecondTry(const TReply& reply, std::vector<TSeenRequest>& seen) {
    auto response = Response(HalfReceived());
    TTestServer server([reply](const TSeenRequest&) { return reply; });
    THTTPClient client(kDefaultUserAgent, L"", L"", false);
    THTTPGetRequest request;
    request.AddHeader(response->RangeHeader());
    TURL url;
    url.From(server.Url("/f.txt"));
    client.Send(&request, response.get(), url);
    seen = server.Requests();
    return response;
  }
  std::filesystem::path FFolder;
};

TEST_F(ResumedDownloadTest, A206ContinuesTheHeldBytesAndTheWholeFileIsChecked) {
  std::vector<TSeenRequest> seen;
  auto response = SecondTry({206, {{"Content-Range", "bytes 5-9/10"}}, kWhole.substr(5)}, seen);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Headers["range"], "bytes=5-");
  response->Complete(206);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), kWhole);
  EXPECT_FALSE(std::filesystem::exists(FFolder / L"f.txt.download"));
}

TEST_F(ResumedDownloadTest, A200StartsTheFileOver) {
  std::vector<TSeenRequest> seen;
  auto response = SecondTry({200, {}, kWhole}, seen);
  response->Complete(200);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), kWhole);
}

TEST_F(ResumedDownloadTest, APartThatDoesNotFitTheHeldBytesKeepsThePlayersFile) {
  const TReply replies[] = {
      // Another start than the bytes held.
      {206, {{"Content-Range", "bytes 3-9/10"}}, kWhole.substr(3)},
      // The right start, but other bytes: the whole file's hash tells.
      {206, {{"Content-Range", "bytes 5-9/10"}}, "xxxxx"},
      // A total that is not the repository's file.
      {206, {{"Content-Range", "bytes 5-10/11"}}, "567890"},
  };
  for (const TReply& reply : replies) {
    std::vector<TSeenRequest> seen;
    std::unique_ptr<TDownloadFileResponse> response;
    try {
      response = SecondTry(reply, seen);
      response->Complete(206);
      ADD_FAILURE() << "accepted " << reply.Body;
    } catch (const EBodyCheckError&) {
    }
    response.reset();
    EXPECT_EQ(Read(L"f.txt"), "old content") << reply.Body;
    EXPECT_FALSE(std::filesystem::exists(FFolder / L"f.txt.download")) << reply.Body;
  }
}

TEST_F(ResumedDownloadTest, ABodyStopsAsSoonAsItPassesTheRepositorysSize) {
  auto response = Response();
  response->ReceiveData("0123456", 7);
  EXPECT_THROW(response->ReceiveData("89ab", 4), EBodyCheckError);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), "old content");
}

}  // namespace
