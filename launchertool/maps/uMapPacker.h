#pragma once
// TMapPacker: the thread that packs finished maps one at a time, the most
// recently finished first. It only encodes and writes; what a pack means for
// the run is decided by whoever hears of it (the callbacks post it on).
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "Exceptions.h"
#include "Guarded.h"

class TMapLoader;

class TMapPacker {
 public:
  // Both run on the packer thread: started before a map is packed, packed
  // after, with the failure or null.
  using TStarted = std::function<void(const std::shared_ptr<TMapLoader>& map)>;
  using TPacked = std::function<void(const std::shared_ptr<TMapLoader>& map, std::shared_ptr<Exception> failure)>;

  // Starts the thread.
  TMapPacker(TStarted started, TPacked packed);
  // Stops the thread and waits for it; an encoding in progress is ended (the
  // map's old archive stays), maps still waiting are dropped unpacked.
  ~TMapPacker();
  TMapPacker(const TMapPacker&) = delete;
  TMapPacker& operator=(const TMapPacker&) = delete;

  // Queues a map whose downloads are complete; a queued map is not added twice.
  void Add(std::shared_ptr<TMapLoader> map);

 private:
  void Execute();
  // Takes the most recent map; null when asked to stop.
  std::shared_ptr<TMapLoader> Next();

  struct TQueue {
    std::vector<std::shared_ptr<TMapLoader>> Maps;
    bool Terminated = false;
  };
  TStarted FStarted;
  TPacked FPacked;
  TGuarded<TQueue> FList;
  std::condition_variable FChanged;
  std::thread FThread;
};
