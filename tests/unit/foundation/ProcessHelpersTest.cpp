#include <gtest/gtest.h>
#include <windows.h>

#include <type_traits>

#include "ProbeChild.h"
#include "WinAPIExtensions.h"

static_assert(!std::is_copy_constructible_v<TRunningProcessInfo> && !std::is_copy_assignable_v<TRunningProcessInfo>,
              "a process record is passed by reference only");

namespace {

bool HandleIsOpen(HANDLE h) {
  DWORD flags = 0;
  return h && GetHandleInformation(h, &flags);
}

}  // namespace

TEST(StartProcess, CommandLineIsTheQuotedPathABlankAndTheParameters) {
  const std::wstring parameters[] = {L"", L"/connect \"vdr://connect/1.2.3.4:7777\""};
  for (const std::wstring& params : parameters) {
    SCOPED_TRACE(testing::PrintToString(params));
    ProbeChild probe(3);
    TRunningProcessInfo info;
    StartProcess(probe.Exe(), params, info, SW_HIDE);
    EXPECT_TRUE(info.IsInitialized());
    EXPECT_EQ(probe.WaitForCommandLine(), L"\"" + probe.Exe() + L"\" " + params);
    DWORD exitCode = 0;
    EXPECT_TRUE(info.WaitCloseAndGetResult(60000, exitCode));
    EXPECT_EQ(exitCode, 3u);
  }
}

TEST(StartProcess, MissingProgramRaisesTheRealErrorAndLeavesTheRecordEmpty) {
  TempFolder folder;
  TRunningProcessInfo info;
  try {
    StartProcess(folder.File(L"no such program.exe"), L"", info, SW_HIDE);
    FAIL() << "no exception";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  }
  EXPECT_FALSE(info.IsInitialized());
  EXPECT_EQ(info.FPI.hProcess, nullptr);
  EXPECT_EQ(info.FPI.hThread, nullptr);
}

TEST(RunningProcessInfo, ZeroWaitOnARunningChildIsFalseAndKeepsTheExitCode) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"FoundationProbeRelease");
  ASSERT_TRUE(release);
  ProbeChild probe(7, L"FoundationProbeRelease");
  TRunningProcessInfo info;
  StartProcess(probe.Exe(), L"", info, SW_HIDE);
  DWORD exitCode = 12345;
  EXPECT_FALSE(info.WaitCloseAndGetResult(0, exitCode));
  EXPECT_EQ(exitCode, 12345u);

  SetEvent(release);
  info.WaitClose();
  EXPECT_TRUE(info.WaitCloseAndGetResult(0, exitCode));
  EXPECT_EQ(exitCode, 7u);
  CloseHandle(release);
}

TEST(RunningProcessInfo, HandlesAreClosedOnceWhenFinalizedOrDestroyed) {
  ProbeChild probe;
  HANDLE process = nullptr, thread = nullptr;
  {
    TRunningProcessInfo info;
    info.Finalize();  // empty: nothing to close
    StartProcess(probe.Exe(), L"", info, SW_HIDE);
    process = info.FPI.hProcess;
    thread = info.FPI.hThread;
    EXPECT_TRUE(HandleIsOpen(process) && HandleIsOpen(thread));
    info.WaitClose();
    info.Finalize();
    EXPECT_FALSE(info.IsInitialized());
    EXPECT_EQ(info.FPI.hProcess, nullptr);
    EXPECT_EQ(info.FPI.hThread, nullptr);
    EXPECT_FALSE(HandleIsOpen(process));
    EXPECT_FALSE(HandleIsOpen(thread));

    // The record can be used again, and its end closes the new child's handles.
    StartProcess(probe.Exe(), L"", info, SW_HIDE);
    process = info.FPI.hProcess;
    info.WaitClose();
    info.Finalize();
    info.Finalize();
    // A handle opened now may reuse the value; a second close would take it away.
    HANDLE reused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    info.Finalize();
    EXPECT_TRUE(HandleIsOpen(reused));
    CloseHandle(reused);

    StartProcess(probe.Exe(), L"", info, SW_HIDE);
    process = info.FPI.hProcess;
    info.WaitClose();
  }
  EXPECT_FALSE(HandleIsOpen(process));
}

TEST(ShellExecuteFile, EmptyFileNameIsAnAssertionFailure) {
  try {
    ShellExecuteFile(nullptr, L"open", L"", L"", L"", SW_SHOWNORMAL);
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), L"Assertion failure (FileManagerUtils\\WinAPIExtensions, line 611)");
  }
}

TEST(ShellExecuteFile, ReturnsZeroOnSuccessAndTheErrorCodeOtherwise) {
  ProbeChild probe;
  EXPECT_EQ(ShellExecuteFile(nullptr, L"", probe.Exe(), L"/removeOldAndClose", L"", SW_HIDE), 0u);
  std::wstring line = probe.WaitForCommandLine();
  EXPECT_NE(line.find(L"/removeOldAndClose"), std::wstring::npos) << testing::PrintToString(line);

  TempFolder folder;
  EXPECT_EQ(ShellExecuteFile(nullptr, L"open", folder.File(L"missing.exe"), L"", L"", SW_HIDE),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}
