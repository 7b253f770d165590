// The reader serves one client after another on a real pipe; the pipe has a
// name of its own so that a running launcher is not disturbed.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
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
    FReader = std::make_unique<TPipeReader>(FName, [this](const TPipeRequest& r) { FReceived.push_back(r); });
  }
  void TearDown() override {
    FReader.reset();
    MainThread::Finalize();
  }

  // Connects as a client, waiting while every instance is busy.
  UniqueFileHandle Connect() {
    UniqueFileHandle client;
    for (int attempt = 0; attempt < 100 && !client; ++attempt) {
      client.reset(CreateFileW(FName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      if (!client) WaitNamedPipeW(FName.c_str(), 100);
    }
    return client;
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

TEST_F(PipeReaderTest, SilentClientsDoNotBlockOthers) {
  // More silent clients than listening instances, all holding their end open.
  std::vector<UniqueFileHandle> silent;
  for (int i = 0; i < kPipeListeners + 2; ++i) silent.push_back(Connect());
  Send("/connect after");
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ(FReceived[0].Text, L"/connect after");
}

TEST_F(PipeReaderTest, MessageLimitHoldsHoweverTheClientWrites) {
  // The limit itself passes, in many small writes as in one.
  const std::string atLimit = "/connect " + std::string(kPipeMessageLimit - 9, 'a');
  {
    UniqueFileHandle client = Connect();
    ASSERT_TRUE(client);
    for (size_t i = 0; i < atLimit.size(); i += 100) {
      DWORD written = 0;
      const DWORD n = static_cast<DWORD>(std::min<size_t>(100, atLimit.size() - i));
      ASSERT_TRUE(WriteFile(client.get(), atLimit.data() + i, n, &written, nullptr));
    }
  }
  // One byte more, in pieces, is dropped whole.
  {
    UniqueFileHandle client = Connect();
    ASSERT_TRUE(client);
    for (int i = 0; i < 2; ++i) {
      DWORD written = 0;
      const std::string half = i == 0 ? atLimit : std::string("b");
      ASSERT_TRUE(WriteFile(client.get(), half.data(), static_cast<DWORD>(half.size()), &written, nullptr));
    }
  }
  Send("/activate");
  ASSERT_TRUE(WaitForRequests(2));
  MainThread::PumpUntil([] { return false; }, 300);
  ASSERT_EQ(FReceived.size(), 2u);
  size_t connects = 0;
  for (const auto& r : FReceived)
    if (r.Kind == TPipeRequestKind::Connect) {
      ++connects;
      EXPECT_EQ(r.Text.size(), kPipeMessageLimit);
    }
  EXPECT_EQ(connects, 1u);
}

TEST_F(PipeReaderTest, ManyClientsAtOnceAllArrive) {
  std::vector<HANDLE> threads;
  static std::wstring name;
  name = FName;
  for (int i = 0; i < 10; ++i) {
    threads.push_back(CreateThread(
        nullptr, 0,
        [](LPVOID index) -> DWORD {
          const std::string bytes = "/connect " + std::to_string(reinterpret_cast<uintptr_t>(index));
          for (int attempt = 0; attempt < 200; ++attempt) {
            UniqueFileHandle client(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (!client) {
              WaitNamedPipeW(name.c_str(), 100);
              continue;
            }
            DWORD written = 0;
            WriteFile(client.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            return 0;
          }
          return 1;
        },
        reinterpret_cast<LPVOID>(static_cast<uintptr_t>(i)), 0, nullptr));
  }
  ASSERT_TRUE(WaitForRequests(10));
  for (HANDLE t : threads) {
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
  }
  std::vector<std::wstring> texts;
  for (const auto& r : FReceived) texts.push_back(r.Text);
  std::sort(texts.begin(), texts.end());
  std::vector<std::wstring> expected;
  for (int i = 0; i < 10; ++i) expected.push_back(L"/connect " + std::to_wstring(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(texts, expected);
}

TEST_F(PipeReaderTest, EndsWhileWaitingForTheFirstClientAndGivesUpTheName) {
  // Ended on a thread of its own, so that a reader that does not wake up fails
  // the test instead of hanging the program.
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread closer([reader = std::move(FReader), ended]() mutable {
    reader.reset();
    *ended = true;
  });
  for (int i = 0; i < 200 && !*ended; ++i) Sleep(50);
  if (!*ended) {
    closer.detach();
    FAIL() << "the reader did not stop within 10 s";
  }
  closer.join();
  // No instance is left: a client finds no pipe, and a new first reader (a
  // restarted launcher) takes the name.
  UniqueFileHandle client(CreateFileW(FName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const DWORD error = GetLastError();
  EXPECT_FALSE(client);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_NO_THROW(
      FReader = std::make_unique<TPipeReader>(FName, [this](const TPipeRequest& r) { FReceived.push_back(r); }));
  Send("/activate");
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ(FReceived[0].Kind, TPipeRequestKind::Activate);
}

}  // namespace
