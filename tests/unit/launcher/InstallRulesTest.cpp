#include <gtest/gtest.h>

#include "game/SessionTime.h"
#include "install/FolderRules.h"

namespace {

TEST(FolderRules, OnlyTheLauncherAndTheDotEntriesKeepAFolderEmpty) {
  struct Case {
    const wchar_t* Name;
    bool Directory;
    bool Blocking;
  } cases[] = {
      {L".", true, false},        {L"..", true, false},         {L"Launcher.exe", false, false},
      {L"LAUNCHER.EXE", false, false}, {L"launcher.exe", false, false}, {L"Launcher.exe", true, true},
      {L"empty", true, true},     {L"Launcher_old.exe", false, true}, {L".last", false, true},
      {L"...", true, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsBlockingFolderEntry(c.Name, c.Directory), c.Blocking) << testing::PrintToString(std::wstring(c.Name));
}

TEST(FolderRules, OneTrailingSeparatorIsRemoved) {
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\Games\\Veldra\\"), L"C:\\Games\\Veldra");
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\Games\\Veldra"), L"C:\\Games\\Veldra");
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\Games/"), L"C:\\Games");
  EXPECT_EQ(WithoutTrailingSeparator(L""), L"");
}

TEST(SessionTime, HoursMinutesSecondsWithDaysInFront) {
  struct Case {
    int64_t Seconds;
    const wchar_t* Text;
  } cases[] = {
      {0, L"00:00:00"},         {59, L"00:00:59"},          {3725, L"01:02:05"},
      {86399, L"23:59:59"},     {86400, L"1.00:00:00"},     {90061, L"1.01:01:01"},
      {10 * 86400 + 5, L"10.00:00:05"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSessionTime(c.Seconds), c.Text) << c.Seconds;
  EXPECT_EQ(SessionTimeExtra(3725), L", \"sessionTime\": \"01:02:05\"");
}

}  // namespace
