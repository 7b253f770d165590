#pragma once
// The download queue's bookkeeping, kept by the one thread that decides:
// items start in order, at most 21 at once; an item holds its slot while its
// downloads run; work it hands on (a map being packed) keeps the run open
// without a slot. The downloads end when nothing is open and either every
// item has started or the run was stopped.
#include <cstdint>
#include <optional>

inline constexpr int32_t kParallelItems = 21;

class TDownloadSlots {
 public:
  explicit TDownloadSlots(int32_t itemCount = 0, int32_t maxParallel = kParallelItems);

  // The next item to start, when a slot is free, items remain and the run
  // was not stopped; the item holds a slot from here.
  std::optional<int32_t> Claim();
  // An item's downloads ended (or it failed): its slot is free.
  void Release();
  // An item's downloads ended and its work goes on elsewhere: the slot is
  // free, the work stays open until WorkDone.
  void HandOn();
  void WorkDone();
  // No item starts any more.
  void Stop() { FStopped = true; }

  bool Stopped() const { return FStopped; }
  int32_t Loading() const { return FLoading; }
  int32_t HandedOn() const { return FHandedOn; }
  bool Ended() const { return FLoading == 0 && FHandedOn == 0 && (FStopped || FNext >= FItemCount); }

 private:
  int32_t FItemCount;
  int32_t FMaxParallel;
  int32_t FNext = 0;
  int32_t FLoading = 0;
  int32_t FHandedOn = 0;
  bool FStopped = false;
};
