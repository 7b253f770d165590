// Case-insensitive names: the same results from CompareStringOrdinal (Windows
// builds) and the host's own folding (native build).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PathCompare.h"
#include "ZipNames.h"
#include "window/SortedStringList.h"

namespace {

TEST(PathCompare, LettersOfEveryAlphabetFoldTogether) {
  const std::pair<std::wstring, std::wstring> same[] = {
      {L"/Data/Maps/North.ZIP", L"/data/maps/north.zip"},
      {L"/data/карты/Север", L"/DATA/КАРТЫ/СЕВЕР"},
      {L"ёжик ђ џ ї є", L"ЁЖИК Ђ Џ Ї Є"},
      {L"ѣ ґ ҷ ӂ ӑ", L"Ѣ Ґ Ҷ Ӂ Ӑ"},
      {L"χάρτησ ωμέγα ύψοσ ώρα", L"ΧΆΡΤΗΣ ΩΜΈΓΑ ΎΨΟΣ ΏΡΑ"},
      {L"café à la crème ÿ", L"CAFÉ À LA CRÈME Ÿ"},
      {L"łódź ščž ő ĳ ŋ ŷ", L"ŁÓDŹ ŠČŽ Ő Ĳ Ŋ Ŷ"},
      {L"/data/Файл.txt", L"/data/файл.txt"},
      {L"/DATA/ЁЛКА/Ω.txt", L"/data/ёлка/ω.txt"},
      {L"/data/maps/North/a", L"/data/maps/north/A"},
      {L"", L""},
  };
  for (const auto& [a, b] : same) {
    EXPECT_EQ(ComparePathsNoCase(a, b), 0) << testing::PrintToString(a);
    EXPECT_EQ(ComparePathsNoCase(b, a), 0) << testing::PrintToString(a);
    EXPECT_TRUE(zip::SameNameIgnoringCase(a, b)) << testing::PrintToString(a);
  }
}

TEST(PathCompare, DifferentLettersStayApartInOneOrder) {
  // Each pair is ordered: first < second, both ways round.
  const std::pair<std::wstring, std::wstring> ordered[] = {
      {L"a", L"b"},           {L"A", L"b"},           {L"abc", L"abcd"},        {L"", L"a"},
      {L"e", L"é"},           {L"/data/maps", L"/data/maps/"}, {L"mods", L"mods."},
      {L"/data/a.txt", L"/data/a.txt.download"},        {L"/data/фаил.txt", L"/data/файл.txt"},
      {L"ß", L"ẞ"},           {L"z", L"а"},
      // Letters whose upper case belongs to another letter do not fold.
      {L"I", L"ı"},           {L"S", L"ſ"},           {L"Σ", L"ς"},             {L"µ", L"Μ"},           {L"Ё", L"Е"},             {L"и", L"й"},
  };
  for (const auto& [a, b] : ordered) {
    EXPECT_LT(ComparePathsNoCase(a, b), 0) << testing::PrintToString(a) << " " << testing::PrintToString(b);
    EXPECT_GT(ComparePathsNoCase(b, a), 0) << testing::PrintToString(a) << " " << testing::PrintToString(b);
    EXPECT_FALSE(zip::SameNameIgnoringCase(a, b)) << testing::PrintToString(a);
  }
}

TEST(PathCompare, SortedListKeepsOneSpellingOfAPath) {
  TSortedStringList list;
  EXPECT_TRUE(list.insert(L"/data/Карта.zip").second);
  EXPECT_FALSE(list.insert(L"/DATA/карта.ZIP").second);
  EXPECT_TRUE(list.insert(L"/data/maps/b").second);
  EXPECT_TRUE(list.insert(L"/Data/Maps/A").second);
  ASSERT_EQ(list.size(), 3u);
  // Ordinal order of the folded code units: Latin before Cyrillic.
  const std::vector<std::wstring> order(list.begin(), list.end());
  EXPECT_EQ(order, (std::vector<std::wstring>{L"/Data/Maps/A", L"/data/maps/b", L"/data/Карта.zip"}));
  EXPECT_EQ(list.count(L"/data/КАРТА.zip"), 1u);
  // A case-only rename leaves one entry, and either spelling removes it.
  EXPECT_EQ(list.erase(L"/DATA/КАРТА.ZIP"), 1u);
  EXPECT_EQ(list.size(), 2u);
}

}  // namespace
