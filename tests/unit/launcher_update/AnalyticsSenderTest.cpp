#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "analytics/AnalyticsSender.h"

namespace {

struct TCounter {
  std::atomic<int> Attempts{0};
  int SucceedOn = 0;  // 0: never
};

}  // namespace

TEST(AnalyticsSender, RetriesFiveTimesAtMostAndStopsAtTheFirstSuccess) {
  const struct {
    int succeedOn;
    int attempts;
  } cases[] = {{1, 1}, {3, 3}, {5, 5}, {0, 5}};
  for (const auto& c : cases) {
    auto counter = std::make_shared<TCounter>();
    counter->SucceedOn = c.succeedOn;
    std::string seen;
    {
      TAnalyticsSender sender([counter, &seen](const std::string& body) {
        seen = body;
        if (++counter->Attempts != counter->SucceedOn) throw std::runtime_error("unreachable");
      });
      sender.Post(L"{\"v\": \"к\"}");
      ASSERT_TRUE(sender.WaitIdle(30000));
    }
    EXPECT_EQ(counter->Attempts, c.attempts) << c.succeedOn;
    EXPECT_EQ(seen, "{\"v\": \"\xD0\xBA\"}");
  }
}

TEST(AnalyticsSender, OwnerEndingWhileASendHangsAbandonsItSafely) {
  struct TBlocked {
    HANDLE Release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE Started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE Finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> Attempts{0};
    ~TBlocked() {
      CloseHandle(Release);
      CloseHandle(Started);
      CloseHandle(Finished);
    }
  };
  auto blocked = std::make_shared<TBlocked>();
  {
    // The attempt owns its state, as the real one owns its client.
    TAnalyticsSender sender([blocked](const std::string&) {
      ++blocked->Attempts;
      SetEvent(blocked->Started);
      WaitForSingleObject(blocked->Release, INFINITE);
      SetEvent(blocked->Finished);
      throw std::runtime_error("connection lost");
    });
    sender.Post(L"{}");
    ASSERT_EQ(WaitForSingleObject(blocked->Started, 30000), WAIT_OBJECT_0);
  }  // the owner is gone while the attempt still runs
  SetEvent(blocked->Release);
  ASSERT_EQ(WaitForSingleObject(blocked->Finished, 30000), WAIT_OBJECT_0);
  // The failed attempt is not retried once the owner has ended.
  for (int i = 0; i < 100 && blocked.use_count() > 1; ++i) Sleep(20);
  EXPECT_EQ(blocked.use_count(), 1);
  EXPECT_EQ(blocked->Attempts, 1);
}
