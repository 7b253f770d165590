#include "maps/uMapPacker.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

#include "Exceptions.h"
#include "maps/MapLoader.h"
#include "uDebugUtils.h"

TMapPacker::TMapPacker() { FThread = std::thread([this] { Execute(); }); }

TMapPacker::~TMapPacker() {
  FList.Lock()->Terminated = true;
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TMapPacker::Add(TMapLoader* map) {
  {
    auto queue = FList.Lock();
    if (std::find(queue->Maps.begin(), queue->Maps.end(), map) != queue->Maps.end()) return;
    queue->Maps.push_back(map);
  }
  FChanged.notify_all();
}

TMapLoader* TMapPacker::Next() {
  auto queue = FList.Lock();
  while (!queue->Terminated) {
    if (!queue->Maps.empty()) {
      TMapLoader* map = queue->Maps.back();
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
    while (TMapLoader* map = Next()) {
      try {
        map->PackMap();
      } catch (...) {
        // PackMap has handed its failure to the window and given back the
        // map's unit of work; the maps still waiting are served as usual.
      }
    }
  } catch (...) {
    // Nothing may leave the thread's entry.
    LogError(*CurrentExceptionAsObject());
  }
}
