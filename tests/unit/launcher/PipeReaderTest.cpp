// The reader serves one client after another on a real pipe; the pipe has a
// name of its own so that a running launcher is not disturbed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "MainThreadQueue.h"
#include "startup/uParametersIPC.h"

namespace {

class PipeReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    MainThread::Initialize();
    FName = L"\\\\.\\pipe\\VELDRA-test-" + std::to_wstring(GetCurrentProcessId());
    FPipe.reset(CreateNamedPipeW(FName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0, nullptr));
    ASSERT_TRUE(FPipe);
    FReader = std::make_unique<TPipeReader>(FPipe.get(), FName,
                                            [this](const TPipeRequest& r) { FReceived.push_back(r); });
  }
  void TearDown() override {
    FReader.reset();
    MainThread::Finalize();
  }

  // Connects as a client (waiting while the reader is busy with another one),
  // writes the bytes and closes.
  void Send(const std::string& bytes) {
    UniqueFileHandle client;
    for (int attempt = 0; attempt < 100 && !client; ++attempt) {
      client.reset(CreateFileW(FName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      if (!client) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
        WaitNamedPipeW(FName.c_str(), 100);
      }
    }
    ASSERT_TRUE(client) << "the pipe never took a new client";
    DWORD written = 0;
    if (!bytes.empty()) {
      ASSERT_TRUE(WriteFile(client.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
  }

  bool WaitForRequests(size_t count) {
    return MainThread::PumpUntil([&] { return FReceived.size() >= count; }, 20000);
  }

  std::wstring FName;
  UniqueFileHandle FPipe;
  std::unique_ptr<TPipeReader> FReader;
  std::vector<TPipeRequest> FReceived;
};

TEST_F(PipeReaderTest, ServesClientsInTurnAndSkipsSilentOnes) {
  Send("");  // connects and goes away without a word
  Send("/activate");
  ASSERT_TRUE(WaitForRequests(1));
  Send("");
  Send("/connect Abc");
  ASSERT_TRUE(WaitForRequests(2));
  ASSERT_EQ(FReceived.size(), 2u);
  EXPECT_EQ(FReceived[0].Kind, TPipeRequestKind::Activate);
  EXPECT_EQ(FReceived[1].Kind, TPipeRequestKind::Connect);
  EXPECT_EQ(FReceived[1].Text, L"/connect Abc");
}

TEST_F(PipeReaderTest, DropsUnknownAndOversizedMessagesAndGoesOn) {
  Send("/ACTIVATE");
  Send("/connect " + std::string(5000, 'x'));
  Send("/connect Я");
  ASSERT_TRUE(WaitForRequests(1));
  ASSERT_EQ(FReceived.size(), 1u);
  EXPECT_EQ(FReceived[0].Text, L"/connect Я");
}

TEST_F(PipeReaderTest, EndsWhileWaitingForTheFirstClient) {
  // TearDown must return: the reader wakes up and stops.
  SUCCEED();
}

}  // namespace
