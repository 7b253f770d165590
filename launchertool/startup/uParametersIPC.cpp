#include "startup/uParametersIPC.h"

#include <deque>

#include "MainThreadQueue.h"
#include "startup/CommandLine.h"
#include "uDebugUtils.h"
#include "uLauncher.h"

std::unique_ptr<TPipeReader> PipeReader;

namespace {

// Both live as long as the process: together they mark the first instance.
UniqueHandle gInstanceMutex;
UniqueFileHandle gPipe;

enum class TDelivery { Hold, Deliver, Drop };
TDelivery gDelivery = TDelivery::Hold;
std::deque<TPipeRequest> gHeld;
constexpr size_t kMaxHeldRequests = 16;

std::wstring InstanceMutexName() {
  wchar_t user[257] = L"";
  DWORD size = static_cast<DWORD>(std::size(user));
  if (!GetUserNameW(user, &size)) user[0] = 0;
  std::wstring name = L"Local\\VELDRA.Launcher.";
  for (const wchar_t* p = user; *p; ++p) name += (*p == L'\\') ? L'_' : *p;
  return name;
}

bool TryOwnInstanceMutex() {
  if (gInstanceMutex) return true;
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, InstanceMutexName().c_str()));
  if (!mutex) return false;
  DWORD wait = WaitForSingleObject(mutex.get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  gInstanceMutex = std::move(mutex);
  return true;
}

bool TryCreatePipe() {
  gPipe.reset(CreateNamedPipeW(kPipeName, PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0, nullptr));
  return static_cast<bool>(gPipe);
}

void SendToRunningInstance(const std::string& message) {
  UniqueFileHandle pipe;
  for (int attempt = 0; attempt < 2; ++attempt) {
    pipe.reset(CreateFileW(kPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe || GetLastError() != ERROR_PIPE_BUSY) break;
    // The running launcher is serving another client; give it a moment.
    WaitNamedPipeW(kPipeName, 2000);
  }
  if (!pipe) RaiseLastOSError();
  DWORD written = 0;
  if (!WriteFile(pipe.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
    RaiseLastOSError();
}

void DeliverNow(const TPipeRequest& request) {
  try {
    if (request.Kind == TPipeRequestKind::Activate) fLauncher->ActivateApp();
    else if (request.Kind == TPipeRequestKind::Connect) fLauncher->DoConnectClient(request.Text);
  } catch (...) {
    fLauncher->aplctnvnts1Exception(*CurrentExceptionAsObject());
  }
}

}  // namespace

std::wstring GetConnectString() {
  std::wstring link;
  if (!GetSwitchValue(L"/connect", link)) return {};
  return ConnectTextFromLink(link);
}

bool CheckRunningInstance() {
  for (int attempt = 0; attempt < kInstanceAttempts; ++attempt) {
    if (TryOwnInstanceMutex() && TryCreatePipe()) {
      PipeReader = std::make_unique<TPipeReader>(gPipe.get());
      return false;
    }
    Sleep(kInstanceRetryMs);
  }
  gInstanceMutex.reset();
  SendToRunningInstance(BuildPipeRequest(GetConnectString()));
  return true;
}

void HandlePipeRequest(const TPipeRequest& request) {
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

TPipeReader::TPipeReader(HANDLE pipe, std::wstring name, TRequestHandler onRequest)
    : FPipe(pipe), FName(std::move(name)), FOnRequest(std::move(onRequest)) {
  if (!FOnRequest) FOnRequest = &HandlePipeRequest;
  FThread.reset(CreateThread(nullptr, 0, &TPipeReader::ThreadEntry, this, 0, nullptr));
  if (!FThread) RaiseLastOSError();
}

TPipeReader::~TPipeReader() {
  FTerminated = true;
  // A short client connection wakes the thread from waiting for a client.
  UniqueFileHandle wake(CreateFileW(FName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  wake.reset();
  if (WaitForSingleObject(FThread.get(), 2000) == WAIT_TIMEOUT) {
    // A client that connected and stays silent keeps the read waiting.
    CancelSynchronousIo(FThread.get());
    WaitForSingleObject(FThread.get(), 2000);
  }
}

DWORD WINAPI TPipeReader::ThreadEntry(LPVOID self) noexcept {
  using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  if (auto set = reinterpret_cast<TSetDescription>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")))
    set(GetCurrentThread(), L"Launcher pipe reader");
  try {
    static_cast<TPipeReader*>(self)->Execute();
  } catch (...) {
    LogError(*CurrentExceptionAsObject());
  }
  return 0;
}

std::string TPipeReader::ReadMessage(DWORD& endError) {
  std::string message;
  char buffer[kPipeMessageLimit];
  for (;;) {
    DWORD got = 0;
    BOOL ok = ReadFile(FPipe, buffer, sizeof(buffer), &got, nullptr);
    endError = ok ? ERROR_SUCCESS : GetLastError();
    if (got > 0) message.append(buffer, got);
    // A message longer than the buffer arrives in pieces; keep reading so
    // that it is dropped whole.
    if (!ok && endError == ERROR_MORE_DATA) continue;
    if (got == 0 || !ok) return message;
  }
}

void TPipeReader::WaitForNextClient() {
  DisconnectNamedPipe(FPipe);
  if (FTerminated) return;
  if (!ConnectNamedPipe(FPipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED && !FTerminated) {
    // Not a client: avoid spinning on a broken pipe.
    Sleep(100);
  }
}

void TPipeReader::Execute() {
  while (!FTerminated) {
    DWORD endError = ERROR_SUCCESS;
    std::string message = ReadMessage(endError);
    if (FTerminated) break;
    if (message.empty()) {
      if (endError == ERROR_PIPE_LISTENING) {
        // No client has connected yet.
        Sleep(100);
      } else {
        // A client came and went without a word: free the pipe for the next.
        WaitForNextClient();
      }
      continue;
    }
    TPipeRequest request = ParsePipeRequest(message);
    if (request.Kind != TPipeRequestKind::None) {
      try {
        MainThread::Synchronize([this, &request] { FOnRequest(request); });
      } catch (...) {
        // The window reports its own failures; the pipe keeps serving.
        LogError(*CurrentExceptionAsObject());
      }
    }
    WaitForNextClient();
  }
  DisconnectNamedPipe(FPipe);
}
