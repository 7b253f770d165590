#pragma once
// The download queue's two shared counters: the open work (one unit per
// running item plus the starter's hold) and the index of the last item
// started. Changed only by atomic add-and-fetch; the caller that brings the
// open work to zero ends the run.
#include <atomic>
#include <cstdint>
#include <functional>

inline constexpr int32_t kParallelItems = 21;

// Releases one unit of open work; true for the one caller that reached zero.
bool ReleaseOpenWork(std::atomic<int32_t>& loadingCount);

// Starts items 0 to min(itemCount, 21) - 1 while holding one unit of open
// work, so that the run cannot end while it is starting them; stops early
// once stopped() says so. The hold is released through endStep last, also
// when a start raises.
void StartFirstItems(std::atomic<int32_t>& loadingCount, std::atomic<int32_t>& fileOffset, int32_t itemCount,
                     const std::function<bool()>& stopped, const std::function<void(int32_t)>& startItem,
                     const std::function<void()>& endStep);

// An item freed its slot: claims the next index and starts it, unless every
// item has been started or the run has stopped.
void StartNextItem(std::atomic<int32_t>& fileOffset, int32_t itemCount, const std::function<bool()>& stopped,
                   const std::function<void(int32_t)>& startItem);
