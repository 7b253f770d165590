#include "SysTypes.h"

#include <windows.h>

#include "Exceptions.h"

namespace {
const wchar_t kCopyRefused[] = L"Don't use copy of this structure and use only as var or const parameters of functions";
}

TAutoFinalizedRecord::~TAutoFinalizedRecord() {
  try {
    Finalize();
  } catch (...) {
    // An action that fails while its owner goes away has nobody to tell.
  }
}

void TAutoFinalizedRecord::InitFinalizator(TRecordFinalizator action) {
  Finalize();
  FRecordFinalizator = std::move(action);
  FRefCount.store(1);
}

void TAutoFinalizedRecord::ChangeFinalizator(TRecordFinalizator action) {
  if (IsInitialized()) FRecordFinalizator = std::move(action);
  else InitFinalizator(std::move(action));
}

void TAutoFinalizedRecord::Finalize() {
  if (IsInitialized()) Release();
}

int32_t TAutoFinalizedRecord::AddRef() {
  int32_t count = ++FRefCount;
  if (count > 1) {
    // The refused copy holds no reference, so the action still runs when the
    // one real reference ends.
    --FRefCount;
    throw ENotSupportedException(kCopyRefused);
  }
  return count;
}

int32_t TAutoFinalizedRecord::Release() {
  int32_t count = --FRefCount;
  if (count == 0 && FRecordFinalizator) {
    TRecordFinalizator action = std::move(FRecordFinalizator);
    FRecordFinalizator = nullptr;
    action();
  } else if (count < 0) {
    FRefCount.store(0);  // releasing an unarmed record changes nothing
    count = 0;
  }
  return count;
}

uint8_t WindowsVersionLevelOf(uint32_t platformId, uint32_t major, uint32_t minor) {
  if (platformId != VER_PLATFORM_WIN32_NT) return 0;
  switch (major) {
    case 5: return minor == 0 ? 1 : minor == 1 ? 2 : 3;
    case 6: return minor <= 3 ? static_cast<uint8_t>(4 + minor) : 0;
    case 10: return 8;
    default: return 0;
  }
}

uint8_t WindowsVersionLevel() {
  static const uint8_t level = [] {
    // RtlGetVersion reports the real version; GetVersionEx lies to programs
    // whose manifest does not list the running system.
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto getVersion = ntdll ? reinterpret_cast<TRtlGetVersion>(GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
    if (!getVersion || getVersion(&info) != 0) return uint8_t{0};
    return WindowsVersionLevelOf(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
  }();
  return level;
}
