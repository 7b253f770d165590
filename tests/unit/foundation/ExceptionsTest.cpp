#include <gtest/gtest.h>

#include "Exceptions.h"

TEST(Exceptions, BaseExceptionIsInnermost) {
  auto inner = std::make_shared<EAbort>(L"inner");
  Exception outer(L"outer", inner);
  EXPECT_EQ(outer.GetBaseException().Message(), L"inner");
  EXPECT_STREQ(outer.GetBaseException().ClassName(), L"EAbort");
  EXPECT_FALSE(outer.StackInfo().Addresses.empty());
}
