#include "startup/uParametersIPC.h"

#include <deque>

#include "MainThreadQueue.h"
#include "startup/CommandLine.h"
#include "startup/InstanceScope.h"
#include "uDebugUtils.h"
#include "uLauncher.h"

std::unique_ptr<TPipeReader> PipeReader;

namespace {

// How long a second launcher keeps trying to reach the first one, and how
// long a restarted one (/runupdate) waits for the old one to let go.
constexpr DWORD kReachWaitMs = 15000;
constexpr DWORD kHandOverWaitMs = 60000;
// How long a new first instance waits for an old pipe that is going away.
constexpr int kPipeCreateAttempts = 30;
constexpr DWORD kRetryMs = 100;

// Owned on the main thread; released there so that it is free at once, not
// only when the thread ends.
class TInstanceMutex {
 public:
  TInstanceMutex() = default;
  explicit TInstanceMutex(UniqueHandle mutex) : FMutex(std::move(mutex)) {}
  TInstanceMutex(TInstanceMutex&&) noexcept = default;
  TInstanceMutex& operator=(TInstanceMutex&& other) noexcept {
    Release();
    FMutex = std::move(other.FMutex);
    return *this;
  }
  ~TInstanceMutex() { Release(); }
  explicit operator bool() const { return static_cast<bool>(FMutex); }
  void Release() {
    if (FMutex) ReleaseMutex(FMutex.get());
    FMutex.reset();
  }

 private:
  UniqueHandle FMutex;
};

TInstanceMutex gInstanceMutex;

enum class TDelivery { Hold, Deliver, Drop };
TDelivery gDelivery = TDelivery::Hold;
std::deque<TPipeRequest> gHeld;
constexpr size_t kMaxHeldRequests = 64;

// This user's session: read once, before the first use of either name.
const TInstanceScope& Scope() {
  static const TInstanceScope scope = CurrentInstanceScope();
  return scope;
}

bool TryOwnInstanceMutex(DWORD waitMs) {
  SECURITY_ATTRIBUTES attributes = Scope().Attributes();
  UniqueHandle mutex(CreateMutexW(&attributes, FALSE, Scope().MutexName.c_str()));
  // A mutex we may not open is not ours to own: its launcher gets the request.
  if (!mutex) return false;
  DWORD wait = WaitForSingleObject(mutex.get(), waitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  gInstanceMutex = TInstanceMutex(std::move(mutex));
  return true;
}

void StartPipeReader() {
  // An old launcher may still be taking its pipe down.
  for (int attempt = 1;; ++attempt) {
    try {
      PipeReader = std::make_unique<TPipeReader>(Scope().PipeName, TPipeReader::TRequestHandler(), true,
                                                 kPipeListeners, Scope().Security.get());
      return;
    } catch (const EOSError&) {
      if (attempt >= kPipeCreateAttempts) throw;
    }
    Sleep(kRetryMs);
  }
}

// ERROR_SUCCESS once the request is written.
DWORD TrySend(const std::string& message) {
  UniqueFileHandle pipe(CreateFileW(Scope().PipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe) return GetLastError();
  // The first launcher may then bring its window to the front.
  ULONG server = 0;
  if (GetNamedPipeServerProcessId(pipe.get(), &server)) AllowSetForegroundWindow(server);
  DWORD written = 0;
  if (!WriteFile(pipe.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
    return GetLastError();
  return written == message.size() ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_WRITE_FAULT);
}

DWORD MsLeft(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

void DeliverNow(const TPipeRequest& request) {
  try {
    if (request.Kind == TPipeRequestKind::Activate) fLauncher->ActivateApp();
    else if (request.Kind == TPipeRequestKind::Connect) fLauncher->DoConnectClient(request.Text);
  } catch (...) {
    fLauncher->aplctnvnts1Exception(*CurrentExceptionAsObject());
  }
}

bool IsAcceptableConnectText(const std::wstring& text) {
  const wchar_t* fault = ConnectTextFault(text);
  if (!fault) return true;
  LogMessage(L"Start", std::wstring(L"connect text refused: it holds ") + fault);
  return false;
}

bool IsAcceptable(const TPipeRequest& request) {
  if (request.Kind != TPipeRequestKind::Connect) return true;
  return IsAcceptableConnectText(request.Text.substr(std::size(kConnectRequestPrefix) - 1));
}

}  // namespace

std::wstring GetConnectString() {
  std::wstring link;
  if (!GetSwitchValue(L"/connect", link)) return {};
  return ConnectTextFromLink(link);
}

std::wstring AcceptedConnectString() {
  std::wstring text = GetConnectString();
  return IsAcceptableConnectText(text) ? text : std::wstring();
}

bool CheckRunningInstance() {
  bool handOver = IsSwitchPresent(L"/runupdate");
  ULONGLONG deadline = GetTickCount64() + (handOver ? kHandOverWaitMs : kReachWaitMs);
  const std::string request = BuildPipeRequest(GetConnectString());
  for (;;) {
    if (TryOwnInstanceMutex(handOver ? MsLeft(deadline) : 0)) {
      StartPipeReader();
      return false;
    }
    if (handOver) {
      // The old launcher never let go: tell it instead.
      handOver = false;
      deadline = GetTickCount64() + kReachWaitMs;
    }
    DWORD error = TrySend(request);
    if (error == ERROR_SUCCESS) return true;
    if (MsLeft(deadline) == 0) RaiseLastOSError(error);
    // Busy: every instance serves a client. Not found: the first launcher is
    // still creating its pipe, or has just ended.
    if (error == ERROR_PIPE_BUSY) WaitNamedPipeW(Scope().PipeName.c_str(), 500);
    else Sleep(kRetryMs);
  }
}

void ReleaseInstance() {
  PipeReader.reset();
  gInstanceMutex.Release();
}

void HandlePipeRequest(const TPipeRequest& request) {
  if (!IsAcceptable(request)) return;
  LogMessage(L"Start", L"request from another start: " +
                           (request.Kind == TPipeRequestKind::Connect ? request.Text : std::wstring(L"/activate")));
  switch (gDelivery) {
    case TDelivery::Hold:
      if (gHeld.size() < kMaxHeldRequests) gHeld.push_back(request);
      break;
    case TDelivery::Deliver:
      if (fLauncher) DeliverNow(request);
      break;
    case TDelivery::Drop:
      break;
  }
}

void PipeRequestsWindowReady() {
  if (gDelivery != TDelivery::Hold) return;
  gDelivery = TDelivery::Deliver;
  while (!gHeld.empty() && gDelivery == TDelivery::Deliver && fLauncher) {
    TPipeRequest request = std::move(gHeld.front());
    gHeld.pop_front();
    DeliverNow(request);
  }
}

void PipeRequestsWindowClosing() {
  gDelivery = TDelivery::Drop;
  gHeld.clear();
}
