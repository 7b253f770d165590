#include "update/LoadingCounters.h"

#include <algorithm>

bool ReleaseOpenWork(std::atomic<int32_t>& loadingCount) { return loadingCount.fetch_sub(1) - 1 == 0; }

void StartFirstItems(std::atomic<int32_t>& loadingCount, std::atomic<int32_t>& fileOffset, int32_t itemCount,
                     const std::function<bool()>& stopped, const std::function<void(int32_t)>& startItem,
                     const std::function<void()>& endStep) {
  loadingCount = 0;
  loadingCount.fetch_add(1);
  const int32_t last = std::min(itemCount, kParallelItems) - 1;
  fileOffset = last;
  try {
    for (int32_t i = 0; i <= last && !stopped(); ++i) startItem(i);
  } catch (...) {
    endStep();
    throw;
  }
  endStep();
}

void StartNextItem(std::atomic<int32_t>& fileOffset, int32_t itemCount, const std::function<bool()>& stopped,
                   const std::function<void(int32_t)>& startItem) {
  if (stopped()) return;
  const int32_t next = fileOffset.fetch_add(1) + 1;
  if (next < itemCount) startItem(next);
}
