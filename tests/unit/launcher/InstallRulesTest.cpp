#include <gtest/gtest.h>

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

}  // namespace
