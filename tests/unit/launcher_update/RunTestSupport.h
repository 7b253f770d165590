#pragma once
// An update run for tests: no HTTP client (a step that would send a request
// raises), and its notifications recorded.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MainThreadQueue.h"
#include "update/UpdateRun.h"

class TRecordedRunEvents : public TUpdateRunEvents {
 public:
  void RunStatus(TUpdateRunStatus status) override {
    Statuses.push_back(status);
    if (Then) Then();
  }
  void RunProgress(int32_t done, int32_t total) override {
    Progress.emplace_back(done, total);
    if (Then) Then();
  }
  void RunFailed(const Exception& error) override {
    Failures.push_back(error.Message());
    if (Then) Then();
  }
  void RunFinished(const TUpdateRunEnd& end) override {
    Ends.push_back(end);
    if (Then) Then();
  }

  // Runs after each notification was recorded (a test may drop the run there,
  // as the window does when it closes).
  std::function<void()> Then;
  std::vector<TUpdateRunStatus> Statuses;
  std::vector<std::pair<int32_t, int32_t>> Progress;
  std::vector<std::wstring> Failures;
  std::vector<TUpdateRunEnd> Ends;
};

// The thread that creates a run is the main thread: a run insists on it.
struct TMainThreadHere {
  TMainThreadHere() { MainThread::Initialize(); }
};

struct TTestRun : private TMainThreadHere {
  explicit TTestRun(TUpdateRunSettings settings = {}) : Run(TUpdateRun::Create(std::move(settings), Events)) {}
  TUpdateRun& operator*() { return *Run; }
  TUpdateRun* operator->() { return Run.get(); }

  TRecordedRunEvents Events;
  std::shared_ptr<TUpdateRun> Run;
};
