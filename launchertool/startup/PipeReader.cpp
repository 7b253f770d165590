// The pipe's server side: several instances, each with a thread that waits
// for a client, reads its message within a time limit and queues the request
// for the main thread.
#include <windows.h>

#include "MainThreadQueue.h"
#include "startup/uParametersIPC.h"
#include "uDebugUtils.h"

struct TPipeReader::TListener {
  TPipeReader* Owner = nullptr;
  UniqueFileHandle Pipe;
  UniqueHandle Event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  OVERLAPPED Overlapped{};
  UniqueHandle Thread;

  OVERLAPPED* Begin() {
    Overlapped = OVERLAPPED{};
    ResetEvent(Event.get());
    Overlapped.hEvent = Event.get();
    return &Overlapped;
  }
};

namespace {

UniqueFileHandle CreateInstance(const std::wstring& name, bool first, PSECURITY_DESCRIPTOR security) {
  DWORD open = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), security, FALSE};
  return UniqueFileHandle(CreateNamedPipeW(name.c_str(), open,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                               PIPE_REJECT_REMOTE_CLIENTS,
                                           PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0,
                                           security ? &attributes : nullptr));
}

}  // namespace

TPipeReader::TPipeReader(std::wstring name, TRequestHandler onRequest, bool first, int listeners,
                         PSECURITY_DESCRIPTOR security)
    : FName(std::move(name)), FOnRequest(std::move(onRequest)), FStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!FOnRequest) FOnRequest = &HandlePipeRequest;
  if (!FStop) RaiseLastOSError();
  for (int i = 0; i < listeners; ++i) {
    auto listener = std::make_unique<TListener>();
    listener->Owner = this;
    listener->Pipe = CreateInstance(FName, first && i == 0, security);
    if (!listener->Pipe || !listener->Event) {
      if (i == 0) RaiseLastOSError();
      break;  // fewer listeners still serve
    }
    FListeners.push_back(std::move(listener));
  }
  for (auto& listener : FListeners) {
    listener->Thread.reset(CreateThread(nullptr, 0, &TPipeReader::ThreadEntry, listener.get(), 0, nullptr));
    if (!listener->Thread) {
      DWORD error = GetLastError();
      SetEvent(FStop.get());
      for (auto& started : FListeners)
        if (started->Thread) WaitForSingleObject(started->Thread.get(), INFINITE);
      RaiseLastOSError(error);
    }
  }
}

TPipeReader::~TPipeReader() {
  SetEvent(FStop.get());
  for (auto& listener : FListeners)
    if (listener->Thread) WaitForSingleObject(listener->Thread.get(), INFINITE);
}

DWORD WINAPI TPipeReader::ThreadEntry(LPVOID param) noexcept {
  using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  if (auto set = reinterpret_cast<TSetDescription>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")))
    set(GetCurrentThread(), L"Launcher pipe reader");
  auto* listener = static_cast<TListener*>(param);
  try {
    listener->Owner->Serve(*listener);
  } catch (...) {
    // Serve already survives its own failures; nothing may leave the thread.
  }
  return 0;
}

bool TPipeReader::Complete(TListener& listener, DWORD timeoutMs, DWORD& transferred, DWORD& error) {
  HANDLE waits[2] = {listener.Event.get(), FStop.get()};
  DWORD woke = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
  if (woke != WAIT_OBJECT_0) CancelIoEx(listener.Pipe.get(), &listener.Overlapped);
  // The operation must be over before its OVERLAPPED is used again.
  transferred = 0;
  BOOL ok = GetOverlappedResult(listener.Pipe.get(), &listener.Overlapped, &transferred, TRUE);
  error = ok ? ERROR_SUCCESS : GetLastError();
  return woke == WAIT_OBJECT_0;
}

bool TPipeReader::WaitForClient(TListener& listener) {
  while (WaitForSingleObject(FStop.get(), 0) == WAIT_TIMEOUT) {
    if (ConnectNamedPipe(listener.Pipe.get(), listener.Begin())) return true;
    DWORD error = GetLastError();
    // A client may connect, write and close before we get here: its message
    // is still there to read.
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
    if (error == ERROR_IO_PENDING) {
      DWORD unused = 0;
      if (Complete(listener, INFINITE, unused, error) && error == ERROR_SUCCESS) return true;
      continue;
    }
    // A broken instance: reset it and try again.
    DisconnectNamedPipe(listener.Pipe.get());
    WaitForSingleObject(FStop.get(), 100);
  }
  return false;
}

TPipeMessageBuffer TPipeReader::ReadMessage(TListener& listener) {
  TPipeMessageBuffer message;
  const ULONGLONG deadline = GetTickCount64() + kPipeClientTimeoutMs;
  char buffer[1024];
  for (;;) {
    DWORD got = 0, error = ERROR_SUCCESS;
    if (!ReadFile(listener.Pipe.get(), buffer, sizeof(buffer), nullptr, listener.Begin())) {
      error = GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return message;
    }
    ULONGLONG now = GetTickCount64();
    DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    // A client that stays silent or keeps writing loses its turn.
    if (!Complete(listener, left, got, error)) return {};
    message.Append(buffer, got);
    // The message ends when the client closes its end.
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return message;
  }
}

void TPipeReader::Serve(TListener& listener) {
  while (WaitForClient(listener)) {
    try {
      TPipeRequest request = ReadMessage(listener).Request();
      DisconnectNamedPipe(listener.Pipe.get());
      if (request.Kind == TPipeRequestKind::None) LogMessage(L"Start", L"pipe client dropped: no request in time");
      if (request.Kind != TPipeRequestKind::None && WaitForSingleObject(FStop.get(), 0) == WAIT_TIMEOUT) {
        // Queued, not waited for: the next client is served at once.
        MainThread::Queue([handler = FOnRequest, request = std::move(request)] { handler(request); });
      }
    } catch (...) {
      // Out of memory or a failing queue: drop this client, keep serving.
      DisconnectNamedPipe(listener.Pipe.get());
      try {
        LogError(*CurrentExceptionAsObject());
      } catch (...) {
      }
    }
  }
  DisconnectNamedPipe(listener.Pipe.get());
}
