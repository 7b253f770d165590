#pragma once
// Posts usage events in the background: one thread-pool task per event, up
// to five attempts back to back, failures swallowed. The user never waits for
// it and never hears of it.
#include <functional>
#include <memory>
#include <string>

class THTTPClient;

inline constexpr int kAnalyticsAttempts = 5;
// How long the owner's destruction waits for posts still running before it
// abandons them.
inline constexpr unsigned kAnalyticsShutdownWaitMs = 2000;

class TAnalyticsSender {
 public:
  // One attempt to post the UTF-8 body; raises when it fails.
  using TPostAttempt = std::function<void(const std::string& body)>;

  // Posts through the synchronous client to the collection URL. The client is
  // shared with running tasks, so it lives until the last of them ends.
  TAnalyticsSender(std::shared_ptr<THTTPClient> client, const std::wstring& collectURL);
  explicit TAnalyticsSender(TPostAttempt attempt);
  // Stops further attempts and waits briefly for running ones; a task still
  // running afterwards keeps what it uses alive and ends on its own.
  ~TAnalyticsSender();
  TAnalyticsSender(const TAnalyticsSender&) = delete;
  TAnalyticsSender& operator=(const TAnalyticsSender&) = delete;

  // Starts the task for one event body and returns at once.
  void Post(const std::wstring& body);
  // True when no task is running (waits up to timeoutMs).
  bool WaitIdle(unsigned timeoutMs) const;

  struct TShared;

 private:
  std::shared_ptr<TShared> FShared;
};

