#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "GitBlobHash.h"
#include "StreamExtensions.h"
#include "uZipFixes.h"

TEST(GitBlobHash, KnownBlobs) {
  struct Case {
    std::string content, sha;
  } cases[] = {
      {"", "e69de29bb2d1d6434b8b29ae775ad8c2e48c5391"},
      {"abc", "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"},
      {"hello world\n", "3b18e512dba79e4c8300dd08aeb37f8e728b8dad"},
  };
  for (const Case& c : cases) {
    TMemoryStream m;
    Fill(m, Bytes(c.content));
    EXPECT_EQ(GitBlobHash(m), c.sha) << c.content;
  }
}

// A deflated member delivers short blocks long before its end; the hash
// must still cover the whole member.
TEST(GitBlobHash, HashesADecompressingMemberWhole) {
  auto data = Pattern(300000);
  TMemoryStream whole, archive;
  Fill(whole, data);
  std::string expected = GitBlobHash(whole);
  {
    TCustomZipFile zip;
    zip.Open(archive, TZipMode::zmWrite);
    TStream* member = zip.PrepareAddFile(L"big.bin", zip::kMethodDeflated);
    member->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    zip.EndAddFile();
  }
  TZipFile zip;
  zip.Open(archive, TZipMode::zmRead);
  TZipHeader h;
  auto reader = zip.Read(L"big.bin", h);
  auto view = std::make_unique<TPartialStream>(reader.release(), h.UncompressedSize, true);
  EXPECT_TRUE(GitBlobMatches(std::move(view), 300000, expected));
}

TEST(GitBlobHash, MatchComparesSizeAndHash) {
  auto stream = [](const std::string& s) {
    auto m = std::make_unique<TMemoryStream>();
    Fill(*m, Bytes(s));
    return m;
  };
  EXPECT_TRUE(GitBlobMatches(stream("abc"), 3, "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"));
  EXPECT_FALSE(GitBlobMatches(stream("abd"), 3, "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"));
  EXPECT_FALSE(GitBlobMatches(stream("abc"), 4, "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"));
  EXPECT_FALSE(GitBlobMatches(stream("abc"), 3, "F2BA8F84AB5C1BCE84A7B441CB1959CFC7093B7F"));
  // A view promising more bytes than its inner stream holds is no match.
  TMemoryStream shortInner;
  Fill(shortInner, Bytes("ab"));
  EXPECT_FALSE(GitBlobMatches(std::make_unique<TPartialStream>(&shortInner, 3, false), 3,
                              "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"));
}
