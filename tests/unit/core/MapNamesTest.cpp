// Names inside a map folder: image pieces and the names accepted from the
// repository.
#include <gtest/gtest.h>

#include <string>

#include "maps/MapPieceName.h"

namespace {

TEST(CoreMapPieceName, ColumnRowAndExtensionComeFromTheName) {
  const struct {
    const wchar_t* name;
    bool valid;
    int32_t column, row;
    const wchar_t* extension;
  } cases[] = {
      {L".part_2_1.png", true, 2, 1, L"png"},
      {L".part_2_3.PNG", true, 2, 3, L"png"},
      {L".part_0_3_extra_9.jpg", true, 0, 3, L"jpg"},  // further fields ignored
      {L".part_12_7.bmp", true, 12, 7, L"bmp"},        // grid limits are the loader's
      {L".part_1_0.tar.gz", false, 0, 0, L""},         // "tar" is no row
      {L".part_1.png", false, 0, 0, L""},
      {L".part__1.png", false, 0, 0, L""},
      {L".part_a_1.png", false, 0, 0, L""},
      {L".part_x_1.png", false, 0, 0, L""},
      {L".part_-1_0.png", false, 0, 0, L""},
      {L".part_1_0", false, 0, 0, L""},
      {L".part_1234567_0.png", false, 0, 0, L""},
      {L".part_99999999_0.png", false, 0, 0, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_TRUE(IsMapPiece(c.name));
    const auto piece = ParseMapPieceName(c.name);
    ASSERT_EQ(piece.has_value(), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(piece->Column, c.column);
    EXPECT_EQ(piece->Row, c.row);
    EXPECT_EQ(piece->Extension, c.extension);
  }
  // The prefix test is case-sensitive; anything else is an ordinary file.
  for (const wchar_t* name : {L".PART_1_0.png", L"settings.ini", L"part_1_0.png"}) {
    EXPECT_FALSE(IsMapPiece(name)) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(ParseMapPieceName(name)) << testing::PrintToString(std::wstring(name));
  }
  EXPECT_FALSE(ParseMapPieceName(L".part"));
}

TEST(CoreMapPieceName, RepositoryNamesCannotLeaveTheMap) {
  const struct {
    const wchar_t* name;
    bool file, map;
  } cases[] = {
      {L"north", true, true},
      {L"settings.ini", true, true},
      {L"..hidden", true, true},
      {L"sounds/wind.ogg", true, false},
      {L"sub/file.txt", true, false},
      {L"c:evil", true, false},
      {L"", false, false},
      {L"..", false, false},
      {L"../x", false, false},
      {L"../north.zip", false, false},
      {L"a/../../b", false, false},
      {L"a\\b", false, false},
      {L"a\\b.txt", false, false},
      {L"..\\..\\evil", false, false},
      {L"/abs.txt", false, false},
      {L"a//b", false, false},
      {L"a/", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(IsSafeMapFileName(c.name), c.file);
    EXPECT_EQ(IsSafeMapName(c.name), c.map);
  }
  // A map's name is a file name: no "." and no drive.
  for (const wchar_t* name : {L".", L"c:"})
    EXPECT_FALSE(IsSafeMapName(name)) << testing::PrintToString(std::wstring(name));
}

}  // namespace
