#include <gtest/gtest.h>

#include "update/DownloadError.h"
#include "update/SelfUpdateRules.h"

TEST(SelfUpdateRules, MetadataReplyGivesHashSizeAndAddress) {
  const TLauncherMetadata info = ParseLauncherMetadata(
      LR"({"name": "Launcher.exe", "sha": "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f", "size": 3,)"
      LR"( "download_url": "http://127.0.0.1:8080/ORMUND42/veldra_public/main/Launcher.exe", "type": "file"})");
  EXPECT_EQ(info.Sha, "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f");
  EXPECT_EQ(info.Size, 3);
  EXPECT_EQ(info.DownloadURL, L"http://127.0.0.1:8080/ORMUND42/veldra_public/main/Launcher.exe");
}

TEST(SelfUpdateRules, MalformedMetadataIsADownloadError) {
  const wchar_t* replies[] = {
      L"",
      L"not json",
      L"[]",
      LR"({"sha": "abc", "size": 3})",                            // no address
      LR"({"sha": 1, "size": 3, "download_url": "http://x/"})",  // hash not a text
      LR"({"sha": "abc", "size": "3", "download_url": "http://x/"})",
  };
  for (const wchar_t* reply : replies) {
    EXPECT_THROW(ParseLauncherMetadata(reply), EDownloadError) << reply;
  }
}

TEST(SelfUpdateRules, RunUpdateSwitchQuotesTheBranch) {
  const struct {
    const wchar_t* branch;
    const wchar_t* parameters;
  } cases[] = {
      {L"main", L"/runupdate \"main\""},
      {L"qa", L"/runupdate \"qa\""},
      {L"", L"/runupdate \"\""},
      {L"a\"b", L"/runupdate \"a\"\"b\""},
      {L"with blank", L"/runupdate \"with blank\""},
  };
  for (const auto& c : cases) EXPECT_EQ(RunUpdateParameters(c.branch), c.parameters) << c.branch;
}
