#include <gtest/gtest.h>

#include "update/RetrySchedule.h"

namespace {

TEST(RetrySchedule, ConnectionAndServerFaultsGrowThenStop) {
  for (TFaultKind kind : {TFaultKind::Connection, TFaultKind::ServerStatus, TFaultKind::SecureConnection}) {
    TRetryCount count;
    EXPECT_EQ(NextRetryPauseMs(kind, count, 0.0), std::optional<uint32_t>(1000));
    EXPECT_EQ(NextRetryPauseMs(kind, count, 0.0), std::optional<uint32_t>(3000));
    EXPECT_EQ(NextRetryPauseMs(kind, count, 0.0), std::optional<uint32_t>(9000));
    EXPECT_EQ(NextRetryPauseMs(kind, count, 0.0), std::nullopt);
    EXPECT_EQ(count.Retries, 3);
  }
}

TEST(RetrySchedule, JitterStaysWithinAFifth) {
  struct Case {
    double Jitter;
    uint32_t Pause;
  } cases[] = {{-1.0, 800}, {1.0, 1200}, {0.5, 1100}, {-7.0, 800}, {7.0, 1200}};
  for (const Case& c : cases) {
    TRetryCount count;
    EXPECT_EQ(NextRetryPauseMs(TFaultKind::Connection, count, c.Jitter), std::optional<uint32_t>(c.Pause)) << c.Jitter;
  }
}

TEST(RetrySchedule, ABodyThatFailedItsCheckIsFetchedOnceMore) {
  TRetryCount count;
  EXPECT_EQ(NextRetryPauseMs(TFaultKind::BodyCheck, count, 0.0), std::optional<uint32_t>(1000));
  EXPECT_EQ(NextRetryPauseMs(TFaultKind::BodyCheck, count, 0.0), std::nullopt);
  // A connection fault of the same file still has its own tries.
  EXPECT_EQ(NextRetryPauseMs(TFaultKind::Connection, count, 0.0), std::optional<uint32_t>(1000));
}

TEST(RetrySchedule, FinalFaultsAreNeverRetried) {
  TRetryCount count;
  EXPECT_EQ(NextRetryPauseMs(TFaultKind::Final, count, 0.0), std::nullopt);
  EXPECT_EQ(count.Retries, 0);
}

TEST(RetrySchedule, RetryAfterLengthensThePauseUpToALimit) {
  struct Case {
    std::optional<uint32_t> RetryAfter;
    uint32_t Pause;
  } cases[] = {{0, 1000}, {5, 5000}, {30, 30000}, {3600, 30000}, {std::nullopt, 1000}};
  for (const Case& c : cases) {
    TRetryCount count;
    EXPECT_EQ(NextRetryPauseMs(TFaultKind::ServerStatus, count, 0.0, c.RetryAfter), std::optional<uint32_t>(c.Pause));
  }
}

TEST(RetrySchedule, TransientStatusesAndRetryAfterText) {
  for (int32_t status : {500, 502, 503, 504, 429}) EXPECT_TRUE(IsTransientStatus(status)) << status;
  for (int32_t status : {200, 206, 301, 400, 401, 403, 404, 416, 501, 505}) EXPECT_FALSE(IsTransientStatus(status)) << status;
  EXPECT_EQ(ParseRetryAfter(L"120"), std::optional<uint32_t>(120));
  EXPECT_EQ(ParseRetryAfter(L" 7 "), std::optional<uint32_t>(7));
  EXPECT_EQ(ParseRetryAfter(L"Wed, 21 Oct 2026 07:28:00 GMT"), std::nullopt);
  EXPECT_EQ(ParseRetryAfter(L""), std::nullopt);
  EXPECT_EQ(ParseRetryAfter(L"-5"), std::nullopt);
  EXPECT_EQ(ParseRetryAfter(L"99999999999"), std::nullopt);
}

}  // namespace
