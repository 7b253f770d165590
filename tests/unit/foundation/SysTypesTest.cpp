#include <gtest/gtest.h>
#include <windows.h>

#include <type_traits>

#include "SysTypes.h"

static_assert(!std::is_copy_constructible_v<TAutoFinalizedRecord> && !std::is_move_constructible_v<TAutoFinalizedRecord>,
              "an auto-finalized record is never duplicated");

TEST(AutoFinalizedRecord, ActionRunsExactlyOnce) {
  int runs = 0;
  {
    TAutoFinalizedRecord record;
    EXPECT_FALSE(record.IsInitialized());
    record.Finalize();  // unarmed: nothing
    record.InitFinalizator([&] { ++runs; });
    EXPECT_TRUE(record.IsInitialized());
    record.Finalize();
    record.Finalize();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(record.IsInitialized());
    record.InitFinalizator([&] { runs += 10; });
  }  // the end of the owner runs the second action
  EXPECT_EQ(runs, 11);
}

TEST(AutoFinalizedRecord, ChangingTheActionReplacesItAndArmingAgainEndsTheFirst) {
  std::wstring trail;
  {
    TAutoFinalizedRecord record;
    record.ChangeFinalizator([&] { trail += L"a"; });  // arms an unarmed record
    record.ChangeFinalizator([&] { trail += L"b"; });
    EXPECT_EQ(trail, L"");
    record.InitFinalizator([&] { trail += L"c"; });  // the armed one ends first
    EXPECT_EQ(trail, L"b");
  }
  EXPECT_EQ(trail, L"bc");
}

TEST(AutoFinalizedRecord, ASecondReferenceIsRefusedAndTheActionStillRuns) {
  int runs = 0;
  TAutoFinalizedRecord record;
  record.InitFinalizator([&] { ++runs; });
  try {
    record.AddRef();
    FAIL() << "no exception";
  } catch (const ENotSupportedException& e) {
    EXPECT_EQ(e.Message(), L"Don't use copy of this structure and use only as var or const parameters of functions");
  }
  record.Finalize();
  EXPECT_EQ(runs, 1);
}

TEST(WindowsVersionLevel, TableOfVersions) {
  struct TCase {
    uint32_t Platform, Major, Minor;
    uint8_t Level;
  };
  const TCase cases[] = {
      {VER_PLATFORM_WIN32_NT, 5, 0, 1},  {VER_PLATFORM_WIN32_NT, 5, 1, 2},  {VER_PLATFORM_WIN32_NT, 5, 2, 3},
      {VER_PLATFORM_WIN32_NT, 6, 0, 4},  {VER_PLATFORM_WIN32_NT, 6, 1, 5},  {VER_PLATFORM_WIN32_NT, 6, 2, 6},
      {VER_PLATFORM_WIN32_NT, 6, 3, 7},  {VER_PLATFORM_WIN32_NT, 10, 0, 8}, {VER_PLATFORM_WIN32_NT, 6, 4, 0},
      {VER_PLATFORM_WIN32_NT, 4, 0, 0},  {VER_PLATFORM_WIN32_NT, 11, 0, 0}, {VER_PLATFORM_WIN32_WINDOWS, 6, 1, 0},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(WindowsVersionLevelOf(c.Platform, c.Major, c.Minor), c.Level) << c.Major << "." << c.Minor;
}

TEST(WindowsVersionLevel, RunningSystemIsAKnownWindows) {
  // The test system is Windows 7 or later (or Wine posing as one).
  EXPECT_GE(WindowsVersionLevel(), 5);
}
