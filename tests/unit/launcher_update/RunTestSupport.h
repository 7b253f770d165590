#pragma once
// An update run for tests: no HTTP client (a step that would send a request
// raises), and its notifications recorded.
#include <memory>
#include <string>
#include <vector>

#include "MainThreadQueue.h"
#include "update/UpdateRun.h"

class TRecordedRunEvents : public TUpdateRunEvents {
 public:
  void RunStatus(TUpdateRunStatus status) override { Statuses.push_back(status); }
  void RunProgress(int32_t done, int32_t total) override { Progress.emplace_back(done, total); }
  void RunFailed(const Exception& error) override { Failures.push_back(error.Message()); }
  void RunFinished(const TUpdateRunEnd& end) override { Ends.push_back(end); }

  std::vector<TUpdateRunStatus> Statuses;
  std::vector<std::pair<int32_t, int32_t>> Progress;
  std::vector<std::wstring> Failures;
  std::vector<TUpdateRunEnd> Ends;
};

struct TTestRun {
  explicit TTestRun(TUpdateRunSettings settings = {}) : Run(TUpdateRun::Create(std::move(settings), Events)) {
    MainThread::Initialize();
  }
  TUpdateRun& operator*() { return *Run; }
  TUpdateRun* operator->() { return Run.get(); }

  TRecordedRunEvents Events;
  std::shared_ptr<TUpdateRun> Run;
};
