#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "ExceptionStackTrace.h"
#include "TempFolder.h"
#include "uDebugUtils.h"

namespace {

// An address no program maps: reads and writes there fault.
volatile uintptr_t gBadAddress = 0x10;

__attribute__((noinline)) void ReadBadAddress() {
  volatile int value = *reinterpret_cast<volatile int*>(gBadAddress);
  (void)value;
}

__attribute__((noinline)) void WriteBadAddress() { *reinterpret_cast<volatile int*>(gBadAddress) = 1; }

__attribute__((noinline)) void DivideByZero() {
  volatile int zero = 0;
  volatile int value = 7 / zero;
  (void)value;
}

__attribute__((noinline)) void RaiseOwnException() { throw EOSError(5, L"own failure"); }

// The first address must lie inside the function that failed (these are all
// small), and the next ones must be the callers, not the handler's frames.
void ExpectStartsIn(const TStackInfo& stack, void (*function)()) {
  ASSERT_GE(stack.Addresses.size(), 2u);
  ASSERT_LE(stack.Addresses.size(), TStackInfo::MaxReturnAddresses + 1);
  auto start = reinterpret_cast<uintptr_t>(function);
  EXPECT_GE(stack.Addresses[0], start);
  EXPECT_LT(stack.Addresses[0], start + 0x100);
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

TEST(ExceptionStackTrace, ProcessorFaultsInsideTheGuardBecomeExceptions) {
  struct TCase {
    void (*Body)();
    const wchar_t* ClassName;
    const wchar_t* MessageStart;
  };
  const TCase cases[] = {
      {&ReadBadAddress, L"EAccessViolation", L"Access violation at address "},
      {&WriteBadAddress, L"EAccessViolation", L"Access violation at address "},
      {&DivideByZero, L"EExternalException", L"External exception C0000094"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ClassName << " " << reinterpret_cast<void*>(c.Body));
    try {
      RunGuarded(c.Body);
      ADD_FAILURE() << "no exception";
    } catch (const EExternalException& e) {
      EXPECT_STREQ(e.ClassName(), c.ClassName);
      EXPECT_EQ(e.Message().rfind(c.MessageStart, 0), 0u) << testing::PrintToString(e.Message());
      ExpectStartsIn(e.StackInfo(), c.Body);
    }
  }
}

TEST(ExceptionStackTrace, AccessViolationNamesTheOperationAndTheTarget) {
  std::shared_ptr<Exception> read = CallAtBoundary(&ReadBadAddress);
  std::shared_ptr<Exception> write = CallAtBoundary(&WriteBadAddress);
  ASSERT_TRUE(read && write);
  EXPECT_NE(read->Message().find(L"in module 'unit_foundation.exe'. Read of address 00000010"), std::wstring::npos)
      << testing::PrintToString(read->Message());
  EXPECT_NE(write->Message().find(L". Write of address 00000010"), std::wstring::npos)
      << testing::PrintToString(write->Message());
}

TEST(ExceptionStackTrace, GuardPassesOwnExceptionsAndResultsThrough) {
  int ran = 0;
  RunGuarded([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_THROW(RunGuarded(&RaiseOwnException), EOSError);
  EXPECT_EQ(CallAtBoundary([] {}), nullptr);
  auto e = CallAtBoundary(&RaiseOwnException);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->ClassName(), L"EOSError");
}

TEST(ExceptionStackTrace, NestedGuardsAndLaterFaultsStillWork) {
  // The inner guard takes the fault; the outer one sees it as a C++ exception,
  // and both guards are gone afterwards (a second round behaves the same).
  for (int round = 0; round < 2; ++round) {
    bool innerCaught = false;
    auto outer = CallAtBoundary([&] {
      try {
        RunGuarded(&WriteBadAddress);
      } catch (const EAccessViolation&) {
        innerCaught = true;
      }
      ReadBadAddress();
    });
    EXPECT_TRUE(innerCaught);
    ASSERT_TRUE(outer);
    EXPECT_STREQ(outer->ClassName(), L"EAccessViolation");
  }
}

TEST(ExceptionStackTrace, FaultOnAWorkerThreadIsCaughtThere) {
  std::shared_ptr<Exception> caught;
  std::thread worker([&] { caught = CallAtBoundary(&ReadBadAddress); });
  worker.join();
  ASSERT_TRUE(caught);
  EXPECT_STREQ(caught->ClassName(), L"EAccessViolation");
}

TEST(ExceptionStackTrace, FaultAtTheBoundaryIsLoggedWithItsStackAndTheProcessGoesOn) {
  TempFolder folder;
  std::wstring logName = folder.Path() + L"\\launcher.log";
  SetGlobalLogger(std::make_unique<TLogger>(logName, 0x80000));
  EXPECT_FALSE(CallAndLogAtBoundary(&WriteBadAddress));
  EXPECT_FALSE(CallAndLogAtBoundary([] { throw EAbort(L"cancelled"); }));  // silent
  EXPECT_TRUE(CallAndLogAtBoundary([] {}));
  SetGlobalLogger(nullptr);

  std::string log = folder.ReadFile(L"launcher.log");
  size_t head = log.find("] EAccessViolation.Exception: Access violation at address ");
  ASSERT_NE(head, std::string::npos) << log;
  EXPECT_EQ(log.find("cancelled"), std::string::npos);
  // "Stack:" then one line per address, the first one inside the faulting function.
  size_t stack = log.find("\r\nStack:\r\n", head);
  ASSERT_NE(stack, std::string::npos) << log;
  uintptr_t first = std::stoull(log.substr(stack + 10, 16), nullptr, 16);
  auto start = reinterpret_cast<uintptr_t>(&WriteBadAddress);
  EXPECT_GE(first, start);
  EXPECT_LT(first, start + 0x100);
  size_t lines = 0;
  for (size_t p = stack + 8; (p = log.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_GE(lines, 3u);  // the fault address, a caller, and the entry's own end
}
