#pragma once
// TMapPacker: the thread that packs finished maps one at a time, the most
// recently finished first.
#include <condition_variable>
#include <thread>
#include <vector>

#include "Guarded.h"

class TMapLoader;

class TMapPacker {
 public:
  // Starts the thread.
  TMapPacker();
  // Stops the thread and waits for it; a pack in progress runs to its end,
  // loaders still waiting are left alone.
  ~TMapPacker();
  TMapPacker(const TMapPacker&) = delete;
  TMapPacker& operator=(const TMapPacker&) = delete;

  // Queues a loader whose downloads are complete; a queued loader is not added twice.
  void Add(TMapLoader* map);

 private:
  void Execute();
  // Takes the most recent loader; null when asked to stop.
  TMapLoader* Next();

  struct TQueue {
    // Not owning: the run's loader list owns the loaders.
    std::vector<TMapLoader*> Maps;
    bool Terminated = false;
  };
  TGuarded<TQueue> FList;
  std::condition_variable FChanged;
  std::thread FThread;
};
