#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Handles.h"
#include "MainThreadQueue.h"
#include "ProbeChild.h"
#include "TempFolder.h"

namespace {

class MainThreadQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    MainThread::Initialize();
    MainThread::SetExceptionHandler(nullptr);
  }
  void TearDown() override {
    MainThread::SetExceptionHandler(nullptr);
    // Leaves a working queue behind for whoever runs next.
    MainThread::Initialize();
  }
  // Pumps the main thread until the worker is done.
  void PumpWhile(std::thread& worker, std::atomic<bool>& done) {
    EXPECT_TRUE(MainThread::PumpUntil([&] { return done.load(); }, 60000));
    worker.join();
  }
};

}  // namespace

TEST_F(MainThreadQueueTest, CallsRunOnTheMainThreadInTheOrderQueued) {
  std::vector<int> order;
  std::vector<DWORD> threads;
  std::atomic<bool> queued{false};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      MainThread::Queue([&, i] {
        order.push_back(i);
        threads.push_back(GetCurrentThreadId());
      });
    queued = true;
  });
  PumpWhile(worker, queued);
  EXPECT_TRUE(MainThread::PumpUntil([&] { return order.size() == 50; }, 60000));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  for (DWORD id : threads) EXPECT_EQ(id, GetCurrentThreadId());
}

TEST_F(MainThreadQueueTest, CallsAfterOneThatRunsAMessageLoopRunFromThatLoop) {
  bool secondRan = false;
  bool sawSecond = false;
  MainThread::Queue([&] {
    // As a message box does: dispatch messages until it is closed.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!secondRan && GetTickCount64() < deadline) {
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      } else {
        Sleep(1);
      }
    }
    sawSecond = secondRan;
  });
  std::thread([&] { MainThread::Queue([&] { secondRan = true; }); }).join();
  ASSERT_TRUE(MainThread::PumpUntil([&] { return secondRan; }, 10000));
  EXPECT_TRUE(sawSecond) << "the second call waited for the first one's loop to end";
}

TEST_F(MainThreadQueueTest, SynchronizeRunsOnTheMainThreadAndRaisesTheFailureInTheWorker) {
  DWORD ranOn = 0;
  bool returned = false;
  uint32_t code = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    returned = MainThread::Synchronize([&] { ranOn = GetCurrentThreadId(); });
    try {
      MainThread::Synchronize([] { throw EOSError(5, L"Access denied"); });
    } catch (const EOSError& e) {
      code = e.ErrorCode;
    }
    done = true;
  });
  PumpWhile(worker, done);
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, GetCurrentThreadId());
  EXPECT_EQ(code, 5u);
}

TEST_F(MainThreadQueueTest, EscapedFailuresGoToTheHandlerAndCancellationIsSilent) {
  std::vector<std::wstring> handled;
  MainThread::SetExceptionHandler([&](const Exception& e) { handled.push_back(e.ClassName()); });
  MainThread::Queue([] { throw EOSError(5, L"Access denied"); });
  MainThread::Queue([] { throw EAbort(L"cancelled"); });
  bool after = false;
  MainThread::Queue([&] { after = true; });
  EXPECT_TRUE(MainThread::PumpUntil([&] { return after; }, 60000));
  EXPECT_EQ(handled, (std::vector<std::wstring>{L"EOSError"}));
}

TEST_F(MainThreadQueueTest, AfterFinalizeCallsAreDroppedAndSynchronizeReturnsFalse) {
  bool ranPending = false, ranLater = false, ranSynchronized = false;
  MainThread::Queue([&] { ranPending = true; });
  MainThread::Finalize();
  MainThread::Queue([&] { ranLater = true; });
  bool returned = true;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    returned = MainThread::Synchronize([&] { ranSynchronized = true; });
    done = true;
  });
  PumpWhile(worker, done);
  MainThread::ProcessPending();
  EXPECT_FALSE(returned);
  EXPECT_FALSE(ranPending);
  EXPECT_FALSE(ranLater);
  EXPECT_FALSE(ranSynchronized);
}

// Main-thread code called on another thread ends the program at once and
// says where: the probe copy of this program does it on purpose.
TEST(MainThreadAssertion, OffTheMainThreadTheProgramLogsWhereAndEnds) {
  TempFolder folder;
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  SetEnvironmentVariableW(kFaultVariable, (L"offmain|" + folder.Path() + L"\\launcher.log").c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring line = L"\"" + self + L"\"";
  const BOOL started =
      CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kFaultVariable, nullptr);
  ASSERT_TRUE(started);
  UniqueHandle thread(process.hThread), child(process.hProcess);
  ASSERT_EQ(WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeProcess(child.get(), &exitCode);
  EXPECT_NE(exitCode, 0u);
  const std::string log = folder.ReadFile(L"launcher.log");
  EXPECT_NE(log.find("] Fatal: TProbe::Step ran on thread "), std::string::npos) << log;
  EXPECT_EQ(log.find("carried on"), std::string::npos) << "the program went on after the assertion";
}
