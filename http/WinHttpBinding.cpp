#include "WinHttpBinding.h"

#include <atomic>
#include <cwchar>
#include <mutex>

#include "Exceptions.h"

namespace {

constexpr const wchar_t* kSlotNames[whSlotCount] = {
    L"WinHttpOpen",
    L"WinHttpSetStatusCallback",
    L"WinHttpConnect",
    L"WinHttpOpenRequest",
    L"WinHttpCloseHandle",
    L"WinHttpAddRequestHeaders",
    L"WinHttpReceiveResponse",
    L"WinHttpQueryDataAvailable",
    L"WinHttpReadData",
    L"WinHttpWriteData",
    L"WinHttpSendRequest",
    L"WinHttpQueryHeaders",
    L"WinHttpSetTimeouts",
    L"WinHttpSetOption",
    L"WinHttpSetCredentials",
    L"WinHttpWebSocketCompleteUpgrade",
    L"WinHttpWebSocketClose",
    L"WinHttpWebSocketQueryCloseStatus",
    L"WinHttpWebSocketSend",
    L"WinHttpWebSocketReceive",
};

std::string Narrow(const wchar_t* name) {
  std::string s;
  for (; *name; ++name) s.push_back(static_cast<char>(*name));
  return s;
}

std::mutex gLoadLock;
TWinHttpBinding gBinding;
std::atomic<bool> gLoaded{false};
std::atomic<int> gUsers{0};

}  // namespace

const wchar_t* WinHttpFunctionName(int slot) {
  return slot >= 0 && slot < whSlotCount ? kSlotNames[slot] : L"";
}

TWinHttpBinding LoadWinHttpLibrary(const std::wstring& libraryName) {
  TWinHttpBinding binding;
  UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  binding.Module.reset(LoadLibraryW(libraryName.c_str()));
  SetErrorMode(oldMode);
  binding.WebSocketAvailable = true;
  if (!binding.Module) throw Exception(L"Unable to load library " + libraryName);

  auto* slots = reinterpret_cast<FARPROC*>(&binding.Api);
  for (int slot = 0; slot < whSlotCount; ++slot) {
    FARPROC address = GetProcAddress(binding.Module.get(), Narrow(kSlotNames[slot]).c_str());
    slots[slot] = address;
    if (address) continue;
    if (slot < kWinHttpRequiredSlots) {
      binding.Module.reset();
      throw Exception(std::wstring(L"Unable to find ") + kSlotNames[slot] + L"() in " + libraryName);
    }
    binding.WebSocketAvailable = false;
  }
  return binding;
}

void LoadWinHttp() {
  if (gLoaded.load(std::memory_order_acquire)) return;
  std::lock_guard guard(gLoadLock);
  if (gLoaded.load(std::memory_order_relaxed)) return;
  gBinding = LoadWinHttpLibrary(L"winhttp.dll");
  gLoaded.store(true, std::memory_order_release);
}

void WinHttpUseBegin() { ++gUsers; }
void WinHttpUseEnd() { --gUsers; }

void UnloadWinHttp() {
  std::lock_guard guard(gLoadLock);
  if (gUsers.load() != 0) return;
  gLoaded.store(false, std::memory_order_release);
  gBinding.Module.reset();
  gBinding.Api = {};
}

bool WinHttpWebSocketAvailable() { return gBinding.WebSocketAvailable; }

HMODULE WinHttpModule() { return gBinding.Module.get(); }

const TWinHttpTable& WinHttp() {
  if (!gLoaded.load(std::memory_order_acquire)) LoadWinHttp();
  return gBinding.Api;
}

namespace {
// Module start-up: bind before the program's entry runs. A failure is left for
// the first use (or an explicit LoadWinHttp) to raise where it can be reported.
struct TWinHttpStartUp {
  TWinHttpStartUp() {
    try {
      LoadWinHttp();
    } catch (...) {
    }
  }
  ~TWinHttpStartUp() { UnloadWinHttp(); }
} gStartUp;
}  // namespace
