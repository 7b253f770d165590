// The test program doubles as the child process of the process-helper tests:
// with FOUNDATION_PROBE_OUTPUT set it writes its command line (UTF-16) to that
// file, waits for the named event FOUNDATION_PROBE_WAIT if given, and exits
// with FOUNDATION_PROBE_EXIT (default 0) instead of running the tests. With
// FOUNDATION_PROBE_FAULT set it faults on purpose instead.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "MainThreadQueue.h"
#include "ProbeChild.h"
#include "uDebugUtils.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

int RunAsProbe(const std::wstring& output) {
  // Reach input idle like a windowed program (the game), so that waiting for
  // it behaves as it does for the real children.
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  std::wstring exitText = Env(kProbeExitVariable);
  std::wstring eventName = Env(kProbeWaitVariable);
  if (!eventName.empty()) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str());
    if (event) {
      WaitForSingleObject(event, 60000);
      CloseHandle(event);
    }
  }
  // Written last, so that a complete file means the child is finishing.
  const wchar_t* line = GetCommandLineW();
  std::wstring tmp = output + L".tmp";
  HANDLE file = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &n, nullptr);
    CloseHandle(file);
    MoveFileExW(tmp.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return exitText.empty() ? 0 : _wtoi(exitText.c_str());
}

// An address no program maps: reads and writes there fault.
volatile uintptr_t gBadAddress = 0x10;

int RunAsFaultingProbe(const std::wstring& request) {
  const size_t bar = request.find(L'|');
  const std::wstring kind = request.substr(0, bar);
  SetGlobalLogger(std::make_unique<TLogger>(request.substr(bar + 1), 0x80000));
  if (kind == L"read") {
    volatile int value = *reinterpret_cast<volatile int*>(gBadAddress);
    (void)value;
  } else if (kind == L"write") {
    *reinterpret_cast<volatile int*>(gBadAddress) = 1;
  } else if (kind == L"divide") {
    volatile int zero = 0;
    volatile int value = 7 / zero;
    (void)value;
  } else if (kind == L"thread") {
    std::thread([] {
      volatile int value = *reinterpret_cast<volatile int*>(gBadAddress);
      (void)value;
    }).join();
  } else if (kind == L"offmain") {
    MainThread::Initialize();
    std::thread([] { MainThread::AssertMainThread(L"TProbe::Step"); }).join();
  }
  LogMessage(L"Test", L"carried on");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring output = Env(kProbeOutputVariable);
  if (!output.empty()) return RunAsProbe(output);
  std::wstring fault = Env(kFaultVariable);
  if (!fault.empty()) return RunAsFaultingProbe(fault);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
