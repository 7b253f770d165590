#include <gtest/gtest.h>

#include "install/LastFile.h"

namespace {

// UTF-16LE bytes of a text, as the launcher writes them.
std::string Utf16(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return bytes;
}

const std::wstring kHash = L"0123456789abcdef0123456789abcdef01234567";

TEST(LastFile, ReadsCommitAndChannelAroundTheFirstTab) {
  struct Case {
    std::string Bytes;
    std::wstring Hash;
    std::wstring Branch;
  } cases[] = {
      {Utf16(kHash + L"\tqa"), kHash, L"qa"},
      {Utf16(kHash), kHash, L"main"},
      {"", L"", L"main"},
      // Everything after the first TAB belongs to the channel, unchanged.
      {Utf16(kHash + L"\tqa\r\n"), kHash, L"qa\r\n"},
      {Utf16(kHash + L"\tqa\tmore"), kHash, L"qa\tmore"},
      {Utf16(L"\tqa"), L"", L"qa"},
      {Utf16(kHash + L"\t"), kHash, L""},
      // A trailing odd byte is ignored.
      {Utf16(kHash + L"\tqa") + "x", kHash, L"qa"},
      {"x", L"", L"main"},
      {Utf16(L"Ж\tтест"), L"Ж", L"тест"},
  };
  for (const auto& c : cases) {
    TLastFileContent content = ParseLastFile(c.Bytes);
    EXPECT_EQ(content.CommitHash, c.Hash) << testing::PrintToString(c.Bytes);
    EXPECT_EQ(content.Branch, c.Branch) << testing::PrintToString(c.Bytes);
  }
}

TEST(LastFile, WritesUtf16LeWithoutMarkOrTerminator) {
  std::string bytes = FormatLastFile(kHash, L"qa");
  EXPECT_EQ(bytes, Utf16(kHash + L"\tqa"));
  EXPECT_EQ(bytes.size(), 2 * (40 + 1 + 2));
  EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");

  TLastFileContent back = ParseLastFile(FormatLastFile(kHash, L"ветка"));
  EXPECT_EQ(back.CommitHash, kHash);
  EXPECT_EQ(back.Branch, L"ветка");
}

TEST(LastFile, OnlyARecordWithACommitAndAPlainChannelIsTrusted) {
  const struct {
    std::string bytes;
    bool intact;
  } cases[] = {
      {"", true},  // made ready for a first installation: no version yet
      {Utf16(kHash + L"\tqa"), true},
      {Utf16(kHash), true},  // the older form: the release channel
      {Utf16(kHash + L"\tqa") + "x", true},
      {Utf16(kHash.substr(0, 20)), false},  // cut off
      {Utf16(kHash + L"\tqa\r\n"), false},
      {Utf16(kHash + L"\t"), false},
      {Utf16(L"\tqa"), false},
      {"x", false},
      {std::string(40, '\0'), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsIntactLastFile(c.bytes), c.intact) << testing::PrintToString(c.bytes);
}

}  // namespace

