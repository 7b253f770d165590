#include <gtest/gtest.h>

#include "update/DownloadError.h"
#include "update/RateLimit.h"

TEST(RateLimit, TenOrMoreRemainingPassesFewerFails) {
  const std::time_t now = 1'700'000'000;
  const struct {
    uint32_t remaining;
    bool passes;
  } cases[] = {{0, false} /* header absent */, {1, false}, {9, false}, {10, true}, {11, true}, {5000, true}};
  for (const auto& c : cases) {
    if (c.passes) {
      EXPECT_NO_THROW(CheckRateLimit(c.remaining, now + 60, now)) << c.remaining;
    } else {
      EXPECT_THROW(CheckRateLimit(c.remaining, now + 60, now), EDownloadError) << c.remaining;
    }
  }
}

TEST(RateLimit, MessageNamesTheTimeUntilTheReset) {
  const std::time_t now = 1'700'000'000;
  try {
    CheckRateLimit(9, static_cast<uint32_t>(now + 3725), now);
    FAIL() << "no exception";
  } catch (const EDownloadError& e) {
    EXPECT_EQ(e.Message(), L"Сервера перегружены, попробуйте обновиться через " + FormatSpanAsTimeOfDay(3725));
  }
}

TEST(RateLimit, SpanShownAsTimeOfDay) {
  // The locale decides whether hours get a leading zero; the rest is fixed.
  const struct {
    int64_t seconds;
    const wchar_t* text;
  } cases[] = {{3725, L"1:02:05"}, {0, L"0:00:00"}, {-30, L"0:00:00"}, {86400 + 61, L"0:01:01"}};
  for (const auto& c : cases) {
    const std::wstring got = FormatSpanAsTimeOfDay(c.seconds, L"ru-RU");
    EXPECT_TRUE(got == c.text || got == std::wstring(L"0") + c.text) << c.seconds << " gave " << got.size();
  }
}
