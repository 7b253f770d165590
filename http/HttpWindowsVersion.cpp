#include "HttpWindowsVersion.h"

#include <windows.h>

uint8_t WindowsVersionLevelFor(uint32_t major, uint32_t minor) {
  if (major == 5) return minor == 0 ? 1 : minor == 1 ? 2 : 3;
  if (major == 6) return minor <= 3 ? static_cast<uint8_t>(4 + minor) : 0;
  if (major == 10) return 8;
  return 0;
}

uint8_t HttpWindowsVersionLevel() {
  static const uint8_t level = [] {
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto getVersion = ntdll ? reinterpret_cast<TRtlGetVersion>(GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
    if (!getVersion || getVersion(&info) != 0 || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return uint8_t{0};
    return WindowsVersionLevelFor(info.dwMajorVersion, info.dwMinorVersion);
  }();
  return level;
}
