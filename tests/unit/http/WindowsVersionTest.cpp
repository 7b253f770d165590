#include <gtest/gtest.h>

#include "HttpWindowsVersion.h"

TEST(HttpWindowsVersion, LevelsByVersion) {
  struct TCase {
    uint32_t Major, Minor;
    uint8_t Level;
  };
  const TCase cases[] = {
      {5, 0, 1}, {5, 1, 2}, {5, 2, 3}, {6, 0, 4}, {6, 1, 5}, {6, 2, 6},
      {6, 3, 7}, {10, 0, 8}, {6, 4, 0}, {4, 0, 0}, {11, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(WindowsVersionLevelFor(c.Major, c.Minor), c.Level) << c.Major << "." << c.Minor;
}
