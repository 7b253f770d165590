#pragma once
// TMapPacker: the thread that packs finished maps one at a time, the most
// recently finished first.
class TMapLoader;

class TMapPacker {
 public:
  TMapPacker();
  // Stops the thread and waits for it; a pack in progress runs to its end.
  ~TMapPacker();
  TMapPacker(const TMapPacker&) = delete;
  TMapPacker& operator=(const TMapPacker&) = delete;

  // Queues a loader whose downloads are complete; a queued loader is not added twice.
  void Add(TMapLoader* map);
};
