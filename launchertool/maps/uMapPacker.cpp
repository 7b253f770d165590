#include "maps/uMapPacker.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

#include "Exceptions.h"
#include "maps/MapLoader.h"
#include "uDebugUtils.h"

TMapPacker::TMapPacker() { FThread = std::thread([this] { Execute(); }); }

TMapPacker::~TMapPacker() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTerminated = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TMapPacker::Add(TMapLoader* map) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (std::find(FList.begin(), FList.end(), map) != FList.end()) return;
    FList.push_back(map);
  }
  FChanged.notify_all();
}

TMapLoader* TMapPacker::Next() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FTerminated) {
    if (!FList.empty()) {
      TMapLoader* map = FList.back();
      FList.pop_back();
      return map;
    }
    FChanged.wait_for(lock, std::chrono::milliseconds(100));
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
