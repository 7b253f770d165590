// The temporary file of a download, from the first byte to its place.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>
#include <vector>

#include "update/DownloadError.h"
#include "update/DownloadFileResponse.h"

namespace {

class DownloadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() /
              (L"queue-download-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(FFolder);
    Write(L"f.txt", "old content");
  }
  void TearDown() override { std::filesystem::remove_all(FFolder); }
  void Write(const std::wstring& name, const std::string& bytes) {
    std::ofstream(FFolder / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::wstring& name) {
    std::ifstream in(FFolder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(const std::wstring& name) { return std::filesystem::exists(FFolder / name); }
  std::unique_ptr<TDownloadFileResponse> Response(const std::wstring& name,
                                                  std::optional<TBlobId> expected = std::nullopt) {
    return std::make_unique<TDownloadFileResponse>(FFolder.wstring(), L"/" + name, TSortedStringList{},
                                                   std::move(expected), nullptr);
  }
  std::filesystem::path FFolder;
};

TEST_F(DownloadFileTest, ANon200ReplyFailsTheStepAndKeepsThePlayersFile) {
  for (int32_t status : {404, 500, 403}) {
    auto response = Response(L"f.txt");
    response->ReceiveData("not found", 9);
    try {
      response->Complete(status);
      FAIL() << "no exception for " << status;
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message(), L"Ошибка загрузки файла /f.txt [" + std::to_wstring(status) + L"]");
    }
    response.reset();
    EXPECT_EQ(Read(L"f.txt"), "old content");
    EXPECT_FALSE(Exists(L"f.txt.download"));
  }
}

TEST_F(DownloadFileTest, AWhole200ReplyReplacesTheFile) {
  for (const wchar_t* name : {L"f.txt", L"new.txt"}) {
    auto response = Response(name);
    EXPECT_TRUE(Exists(std::wstring(name) + L".download"));
    response->ReceiveData("new ", 4);
    response->ReceiveData("content", 7);
    response->Complete(200);
    response.reset();
    EXPECT_EQ(Read(name), "new content");
    EXPECT_FALSE(Exists(std::wstring(name) + L".download"));
  }
}

TEST_F(DownloadFileTest, A200ReplyThatIsNotTheRepositorysBlobKeepsThePlayersFile) {
  const TBlobId abc{"f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f", 3};
  for (const char* body : {"abd", "ab"}) {
    auto response = Response(L"f.txt", abc);
    response->ReceiveData(body, static_cast<uint32_t>(std::strlen(body)));
    EXPECT_THROW(response->Complete(200), EDownloadError) << body;
    response.reset();
    EXPECT_EQ(Read(L"f.txt"), "old content");
    EXPECT_FALSE(Exists(L"f.txt.download"));
  }
  auto response = Response(L"f.txt", abc);
  response->ReceiveData("abc", 3);
  response->Complete(200);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), "abc");
}

TEST_F(DownloadFileTest, ATransferThatNeverCompletesLeavesNoTrace) {
  auto response = Response(L"f.txt");
  response->ReceiveData("half", 4);
  response.reset();
  EXPECT_EQ(Read(L"f.txt"), "old content");
  EXPECT_FALSE(Exists(L"f.txt.download"));
}

TEST_F(DownloadFileTest, AMissingFolderRaisesInsteadOfDownloading) {
  EXPECT_THROW(Response(L"missing/f.txt"), EOSError);
}

}  // namespace
