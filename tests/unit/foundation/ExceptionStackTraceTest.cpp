#include <gtest/gtest.h>
#include <windows.h>


#include "ExceptionStackTrace.h"
#include "Handles.h"
#include "ProbeChild.h"
#include "TempFolder.h"
#include "uDebugUtils.h"

namespace {

__attribute__((noinline)) void RaiseOwnException() { throw EOSError(5, L"own failure"); }

// The first address must lie inside the function that failed (these are all
// small), and the next ones must be the callers, not the handler's frames.
void ExpectStartsIn(const TStackInfo& stack, void (*function)()) {
  ASSERT_GE(stack.Addresses.size(), 2u);
  ASSERT_LE(stack.Addresses.size(), TStackInfo::MaxReturnAddresses + 1);
  auto start = reinterpret_cast<uintptr_t>(function);
  EXPECT_GE(stack.Addresses[0], start);
  EXPECT_LT(stack.Addresses[0], start + 0x400);
}

}  // namespace

TEST(ExceptionStackTrace, OwnExceptionStackStartsAtTheRaisingCode) {
  try {
    RaiseOwnException();
    FAIL() << "no exception";
  } catch (const EOSError& e) {
    ExpectStartsIn(e.StackInfo(), &RaiseOwnException);
  }
}

TEST(ExceptionStackTrace, BoundaryPassesOwnExceptionsAndResultsOn) {
  int ran = 0;
  EXPECT_EQ(CallAtBoundary([&] { ++ran; }), nullptr);
  EXPECT_EQ(ran, 1);
  auto e = CallAtBoundary(&RaiseOwnException);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->ClassName(), L"EOSError");
}

// A fault ends the program: the copy of this program started as a probe
// faults on purpose (see TestMain.cpp) and must leave its log entry behind.
TEST(ExceptionStackTrace, AProcessorFaultIsLoggedWithItsStackAndEndsTheProgram) {
  const struct {
    const wchar_t* kind;
    DWORD exitCode;
    const char* entry;
  } cases[] = {
      {L"read", EXCEPTION_ACCESS_VIOLATION, "] EAccessViolation.Exception: Access violation at address "},
      {L"write", EXCEPTION_ACCESS_VIOLATION, ". Write of address 00000010"},
      {L"divide", EXCEPTION_INT_DIVIDE_BY_ZERO, "] EExternalException.Exception: External exception C0000094"},
      {L"thread", EXCEPTION_ACCESS_VIOLATION, ". Read of address 00000010"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.kind)));
    TempFolder folder;
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    SetEnvironmentVariableW(kFaultVariable, (std::wstring(c.kind) + L"|" + folder.Path() + L"\\launcher.log").c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + self + L"\"";
    ASSERT_TRUE(CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    SetEnvironmentVariableW(kFaultVariable, nullptr);
    UniqueHandle thread(process.hThread), child(process.hProcess);
    ASSERT_EQ(WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.get(), &exitCode);
    EXPECT_EQ(exitCode, c.exitCode);
    std::string log = folder.ReadFile(L"launcher.log");
    size_t head = log.find(c.entry);
    ASSERT_NE(head, std::string::npos) << log;
    EXPECT_EQ(log.find("carried on"), std::string::npos) << "the program went on after the fault";
    // "Stack:" then one line per address: the fault address and its callers.
    size_t stack = log.find("\r\nStack:\r\n", head);
    ASSERT_NE(stack, std::string::npos) << log;
    size_t lines = 0;
    for (size_t p = stack + 8; (p = log.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
    EXPECT_GE(lines, 3u);
  }
}
