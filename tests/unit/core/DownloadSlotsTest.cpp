// The download queue's bookkeeping: at most 21 items at once, in order, and
// the downloads end exactly when the last open work ends.
#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "update/DownloadSlots.h"

namespace {

std::vector<int32_t> Range(int32_t n) {
  std::vector<int32_t> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// Claims what the slots allow, as the run does after every event.
void ClaimAll(TDownloadSlots& slots, std::deque<int32_t>& running, std::vector<int32_t>& started) {
  while (const auto index = slots.Claim()) {
    running.push_back(*index);
    started.push_back(*index);
  }
}

TEST(DownloadSlots, AtMost21RunInOrderAndTheLastReleaseEnds) {
  for (int32_t items : {30, 21, 5, 1, 0}) {
    SCOPED_TRACE(items);
    TDownloadSlots slots(items);
    std::deque<int32_t> running;
    std::vector<int32_t> started;
    ClaimAll(slots, running, started);
    EXPECT_EQ(started, Range(std::min(items, 21)));
    while (!running.empty()) {
      EXPECT_FALSE(slots.Ended());
      EXPECT_LE(running.size(), 21u);
      running.pop_front();
      slots.Release();
      ClaimAll(slots, running, started);
    }
    EXPECT_EQ(started, Range(items));
    EXPECT_TRUE(slots.Ended());
  }
}

TEST(DownloadSlots, HandedOnWorkFreesTheSlotButKeepsTheRunOpen) {
  TDownloadSlots slots(22);
  std::deque<int32_t> running;
  std::vector<int32_t> started;
  ClaimAll(slots, running, started);
  // Item 0 is a map: its downloads end, it is packed while item 21 starts.
  running.pop_front();
  slots.HandOn();
  ClaimAll(slots, running, started);
  EXPECT_EQ(started.back(), 21);
  while (!running.empty()) {
    running.pop_front();
    slots.Release();
  }
  EXPECT_FALSE(slots.Ended()) << "the map is still being packed";
  slots.WorkDone();
  EXPECT_TRUE(slots.Ended());
}

TEST(DownloadSlots, AfterAStopNothingStartsAndTheOpenWorkStillEnds) {
  TDownloadSlots slots(30);
  std::deque<int32_t> running;
  std::vector<int32_t> started;
  ClaimAll(slots, running, started);
  running.pop_front();
  slots.HandOn();
  slots.Stop();
  ClaimAll(slots, running, started);
  EXPECT_EQ(started, Range(21));
  while (!running.empty()) {
    running.pop_front();
    slots.Release();
    EXPECT_FALSE(slots.Ended());
  }
  slots.WorkDone();
  EXPECT_TRUE(slots.Ended());
}

TEST(DownloadSlots, ReleasingMoreThanWasClaimedIsRefused) {
  TDownloadSlots slots(2);
  ASSERT_TRUE(slots.Claim());
  slots.Release();
  EXPECT_THROW(slots.Release(), std::logic_error);
  EXPECT_THROW(slots.WorkDone(), std::logic_error);
}

}  // namespace
