#include <gtest/gtest.h>

#include "update/PlacedRecord.h"

namespace {

const std::wstring kHead = L"0123456789abcdef0123456789abcdef01234567";
const std::string kSha = "89abcdef0123456789abcdef0123456789abcdef";

TEST(PlacedRecord, ReadsWhatItWrote) {
  const std::string text = PlacedRecordHeader(kHead) + PlacedRecordLine(L"/data/config.ini", {kSha, 12}) +
                           PlacedRecordLine(L"/data/два слова.txt", {kSha, 0});
  const TPlacedRecord record = ParsePlacedRecord(text);
  EXPECT_EQ(record.Head, kHead);
  ASSERT_EQ(record.Files.size(), 2u);
  EXPECT_EQ(record.Files.at(L"/data/config.ini").Sha, kSha);
  EXPECT_EQ(record.Files.at(L"/data/config.ini").Size, 12);
  EXPECT_EQ(record.Files.at(L"/data/два слова.txt").Size, 0);
}

TEST(PlacedRecord, TornAndDamagedLinesAreIgnored) {
  const std::string header = PlacedRecordHeader(kHead);
  const std::string good = PlacedRecordLine(L"/a.txt", {kSha, 3});
  struct Case {
    std::string Text;
    size_t Files;
  } cases[] = {
      // A launcher killed in the middle of a line leaves it without its break.
      {header + good + kSha + " 5 /b.t", 1},
      {header + good + "zz" + kSha.substr(2) + " 5 /b.txt\n", 1},
      {header + good + kSha + " five /b.txt\n", 1},
      {header + good + kSha + " 5 relative.txt\n", 1},
      {header + good + kSha + " 5\n", 1},
      {header + good + "\n", 1},
  };
  for (const Case& c : cases) {
    const TPlacedRecord record = ParsePlacedRecord(c.Text);
    EXPECT_EQ(record.Head, kHead) << c.Text;
    EXPECT_EQ(record.Files.size(), c.Files) << c.Text;
  }
}

TEST(PlacedRecord, WithoutAWholeHeaderNothingIsTrusted) {
  const std::string line = PlacedRecordLine(L"/a.txt", {kSha, 3});
  for (const std::string& text : {std::string(), std::string("placed 0123"), "placed nothex\n" + line,
                                  "something else\n" + line, line, "placed " + std::string(40, 'a')}) {
    const TPlacedRecord record = ParsePlacedRecord(text);
    EXPECT_TRUE(record.Head.empty()) << text;
    EXPECT_TRUE(record.Files.empty()) << text;
  }
}

}  // namespace
