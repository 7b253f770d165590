// A head commit goes into request paths and .last: only Git's form passes.
#include <gtest/gtest.h>

#include "update/CommitHash.h"

namespace {

TEST(CommitHash, HeadCommitIsFortyHexadecimalDigits) {
  EXPECT_TRUE(IsCommitHash(L"0123456789abcdef0123456789ABCDEF01234567"));
  for (const wchar_t* text : {L"", L"0123456789abcdef0123456789abcdef0123456",
                              L"0123456789abcdef0123456789abcdef01234567\n",
                              L"0123456789abcdef0123456789abcdef0123456g", L"../../../../../../../../../../x"}) {
    EXPECT_FALSE(IsCommitHash(text)) << text;
  }
}

}  // namespace
