#include "MainThreadQueue.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "ExceptionStackTrace.h"
#include "Handles.h"
#include "uDebugUtils.h"

namespace MainThread {
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x51;
const wchar_t kWindowClass[] = L"VeldraMainThreadQueue";

struct TState {
  std::mutex Lock;
  std::deque<TQueuedCall> Pending;
  HWND Window = nullptr;
  // A wake message is on its way: calls queued meanwhile need none of their own.
  bool WakePosted = false;
  DWORD MainThreadId = 0;
  bool Finalized = false;
  TExceptionHandler Handler;
  // Calls waiting for their timer (main thread only).
  std::map<UINT_PTR, TQueuedCall> Delayed;
  UINT_PTR NextTimerId = 1;
};

TState& State() {
  static TState state;
  return state;
}

void HandleEscaped(const Exception& e) {
  TExceptionHandler handler;
  {
    std::lock_guard guard(State().Lock);
    handler = State().Handler;
  }
  if (handler) {
    try {
      handler(e);
      return;
    } catch (...) {
      // A failing handler must not take the loop down; log below instead.
    }
  }
  if (auto* logger = GlobalLogger()) logger->Error(e);
}

void RunOne(TQueuedCall& call) {
  try {
    call();
  } catch (const EAbort&) {
    // Silent by design.
  } catch (...) {
    HandleEscaped(*CurrentExceptionAsObject());
  }
}

LRESULT CALLBACK QueueWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  if (msg == kWakeMessage) {
    {
      std::lock_guard guard(State().Lock);
      State().WakePosted = false;
    }
    ProcessPending();
    return 0;
  }
  if (msg == WM_TIMER) {
    KillTimer(hwnd, wp);
    auto delayed = State().Delayed.extract(wp);
    if (!delayed.empty()) RunOne(delayed.mapped());
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void PostWake(TState& s) {
  if (PostMessageW(s.Window, kWakeMessage, 0, 0)) return;
  // Not posted: the next call queued tries again.
  std::lock_guard guard(s.Lock);
  s.WakePosted = false;
}

}  // namespace

void Initialize() {
  TState& s = State();
  s.MainThreadId = GetCurrentThreadId();
  s.Finalized = false;
  if (s.Window) return;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = QueueWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  RegisterClassW(&wc);
  s.Window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void Finalize() {
  std::deque<TQueuedCall> dropped;
  TState& s = State();
  {
    std::lock_guard guard(s.Lock);
    s.Finalized = true;
    dropped.swap(s.Pending);
  }
  s.Delayed.clear();
  if (s.Window) {
    DestroyWindow(s.Window);
    s.Window = nullptr;
  }
}

bool IsMainThread() { return GetCurrentThreadId() == State().MainThreadId; }

void Queue(TQueuedCall call) {
  TState& s = State();
  bool wake;
  {
    std::lock_guard guard(s.Lock);
    if (s.Finalized || !s.Window) return;
    wake = !s.WakePosted;
    s.WakePosted = true;
    s.Pending.push_back(std::move(call));
  }
  // One wake message per batch; the window drains the whole queue.
  if (wake) PostWake(s);
}

void QueueAfter(unsigned delayMs, TQueuedCall call) {
  TState& s = State();
  if (s.Finalized || !s.Window) return;
  const UINT_PTR id = s.NextTimerId++;
  if (!SetTimer(s.Window, id, delayMs, nullptr)) {
    // No timer left: better early than never.
    Queue(std::move(call));
    return;
  }
  s.Delayed.emplace(id, std::move(call));
}

bool Synchronize(const TQueuedCall& call) {
  if (IsMainThread()) {
    call();
    return true;
  }
  struct TWait {
    UniqueHandle Done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::shared_ptr<Exception> Failure;
    bool Started = false;  // under the queue's lock
    bool Ran = false;
  };
  auto wait = std::make_shared<TWait>();
  Queue([wait, &call] {
    {
      std::lock_guard guard(State().Lock);
      wait->Started = true;
    }
    wait->Failure = CallAtBoundary(call);
    wait->Ran = true;
    SetEvent(wait->Done.get());
  });
  // Wake up now and then to notice a finalized queue that dropped the call.
  // A call that already started (it may itself finalize the queue) is waited
  // for: it still uses the caller's function object.
  for (;;) {
    if (WaitForSingleObject(wait->Done.get(), 100) == WAIT_OBJECT_0) break;
    std::lock_guard guard(State().Lock);
    if (State().Finalized && !wait->Started) return false;
  }
  if (wait->Failure) wait->Failure->Raise();
  return wait->Ran;
}

void SetExceptionHandler(TExceptionHandler handler) {
  std::lock_guard guard(State().Lock);
  State().Handler = std::move(handler);
}

int ProcessPending() {
  TState& s = State();
  int ran = 0;
  for (;;) {
    TQueuedCall call;
    bool wake = false;
    {
      std::lock_guard guard(s.Lock);
      if (s.Pending.empty()) return ran;
      call = std::move(s.Pending.front());
      s.Pending.pop_front();
      // A call may run a modal loop (a message box) and not return for a
      // while: the calls after it are then drained from that loop.
      if (!s.Pending.empty() && !s.WakePosted && s.Window) {
        s.WakePosted = true;
        wake = true;
      }
    }
    if (wake) PostWake(s);
    RunOne(call);
    ++ran;
  }
}

bool PumpUntil(const std::function<bool()>& pred, unsigned timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!pred()) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                              QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    ProcessPending();
  }
  return true;
}

}  // namespace MainThread
