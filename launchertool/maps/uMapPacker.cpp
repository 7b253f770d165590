#include "maps/uMapPacker.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

#include "maps/MapLoader.h"
#include "uDebugUtils.h"

TMapPacker::TMapPacker(TStarted started, TPacked packed) : FStarted(std::move(started)), FPacked(std::move(packed)) {
  FThread = std::thread([this] { Execute(); });
}

TMapPacker::~TMapPacker() {
  FList.Lock()->Terminated = true;
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TMapPacker::Add(std::shared_ptr<TMapLoader> map) {
  {
    auto queue = FList.Lock();
    if (std::find(queue->Maps.begin(), queue->Maps.end(), map) != queue->Maps.end()) return;
    queue->Maps.push_back(std::move(map));
  }
  FChanged.notify_all();
}

std::shared_ptr<TMapLoader> TMapPacker::Next() {
  auto queue = FList.Lock();
  while (!queue->Terminated) {
    if (!queue->Maps.empty()) {
      std::shared_ptr<TMapLoader> map = std::move(queue->Maps.back());
      queue->Maps.pop_back();
      return map;
    }
    FChanged.wait_for(queue.Lock(), std::chrono::milliseconds(100));
  }
  return nullptr;
}

void TMapPacker::Execute() {
  using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  if (auto set = reinterpret_cast<TSetDescription>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")))
    set(GetCurrentThread(), L"Launcher map packer");
  try {
    while (std::shared_ptr<TMapLoader> map = Next()) {
      if (FStarted) FStarted(map);
      std::shared_ptr<Exception> failure;
      try {
        map->Pack([this] { return FList.Lock()->Terminated; });
      } catch (...) {
        failure = CurrentExceptionAsObject();
      }
      if (FPacked) FPacked(map, std::move(failure));
    }
  } catch (...) {
    // Nothing may leave the thread's entry.
    LogError(*CurrentExceptionAsObject());
  }
}
