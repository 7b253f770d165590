#include <gtest/gtest.h>

#include "startup/CommandLine.h"

namespace {

struct SplitCase {
  const wchar_t* Line;
  TArguments Expected;
};

TEST(SplitCommandLine, SplitsOutsideQuotesAndDropsTheQuotes) {
  const SplitCase cases[] = {
      {L"Launcher.exe", {L"Launcher.exe"}},
      {L"\"C:\\Games\\My Veldra\\Launcher.exe\" /runupdate \"qa\"", {L"C:\\Games\\My Veldra\\Launcher.exe", L"/runupdate", L"qa"}},
      {L"a  \t b\r\nc", {L"a", L"b", L"c"}},
      // Quotes may open and close inside an argument; no escapes exist.
      {L"x a\"b c\"d", {L"x", L"ab cd"}},
      {L"x \"\" y", {L"x", L"", L"y"}},
      {L"x \"unterminated tail", {L"x", L"unterminated tail"}},
      {L"x \\\"q\\\"", {L"x", L"\\q\\"}},
      {L"   ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.Line), c.Expected) << testing::PrintToString(std::wstring(c.Line));
}

TEST(Switches, CompareWholeArgumentsWithAsciiLettersFolded) {
  const TArguments args = {L"/connect", L"Launcher.exe", L"/RemoveOLD", L"/connectX", L"/Привет"};
  EXPECT_TRUE(IsSwitchPresent(args, L"/removeold"));
  EXPECT_TRUE(IsSwitchPresent(args, L"/REMOVEOLD"));
  // Argument 0 is the program, never a switch.
  EXPECT_FALSE(IsSwitchPresent(args, L"/connect"));
  EXPECT_FALSE(IsSwitchPresent(args, L"/remove"));
  EXPECT_TRUE(IsSwitchPresent(args, L"/Привет"));
  // Only ASCII letters fold.
  EXPECT_FALSE(IsSwitchPresent(args, L"/ПРИВЕТ"));
}

TEST(Switches, ValueIsTheNextArgumentOfTheFirstOccurrence) {
  std::wstring value = L"untouched";
  EXPECT_FALSE(GetSwitchValue({L"L.exe", L"/runupdate"}, L"/connect", value));
  EXPECT_EQ(value, L"untouched");

  EXPECT_TRUE(GetSwitchValue({L"L.exe", L"/RUNUPDATE", L"qa", L"/runupdate", L"main"}, L"/runupdate", value));
  EXPECT_EQ(value, L"qa");

  EXPECT_TRUE(GetSwitchValue({L"L.exe", L"/connect"}, L"/connect", value));
  EXPECT_EQ(value, L"");

  // The value may itself look like a switch.
  EXPECT_TRUE(GetSwitchValue({L"L.exe", L"/connect", L"/removeOld"}, L"/connect", value));
  EXPECT_EQ(value, L"/removeOld");
}

TEST(Switches, ALinkStartKeepsNothingButTheLink) {
  const struct {
    TArguments args;
    TArguments kept;
  } cases[] = {
      {{L"L.exe", L"/connect", L"vdr://connect/A", L"/runupdate", L"qa"}, {L"L.exe", L"/connect", L"vdr://connect/A"}},
      {{L"L.exe", L"/removeOldAndClose", L"/CONNECT", L"vdr://connect/A"}, {L"L.exe", L"/connect", L"vdr://connect/A"}},
      {{L"L.exe", L"/runupdate", L"/connect"}, {L"L.exe", L"/connect", L""}},
      // Without a link every switch stays.
      {{L"L.exe", L"/removeOld", L"/runupdate", L"qa"}, {L"L.exe", L"/removeOld", L"/runupdate", L"qa"}},
  };
  for (const auto& c : cases) {
    const TArguments kept = EffectiveArguments(c.args);
    EXPECT_EQ(kept, c.kept);
    EXPECT_FALSE(IsSwitchPresent(kept, L"/runupdate") && IsSwitchPresent(kept, L"/connect"));
  }
}

}  // namespace
