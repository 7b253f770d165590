#pragma once
// Single instance per user: the first launcher owns a per-user mutex and the
// pipe; a later one writes its request into the pipe and ends. The reader
// thread hands requests to the window on the main thread.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "Handles.h"
#include "startup/ConnectLink.h"

inline constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\VELDRA";
inline constexpr int kInstanceAttempts = 6;
inline constexpr DWORD kInstanceRetryMs = 500;

// The connect text of the /connect link of this process, or empty.
std::wstring GetConnectString();

class TPipeReader {
 public:
  // Called on the main thread for every recognised request.
  using TRequestHandler = std::function<void(const TPipeRequest&)>;
  // Starts reading at once; the pipe handle stays owned by the caller. The
  // name is the pipe's path, used to wake the reader when it ends.
  TPipeReader(HANDLE pipe, std::wstring name = kPipeName, TRequestHandler onRequest = {});
  ~TPipeReader();
  TPipeReader(const TPipeReader&) = delete;
  TPipeReader& operator=(const TPipeReader&) = delete;

 private:
  static DWORD WINAPI ThreadEntry(LPVOID self) noexcept;
  void Execute();
  // Reads one client's message until it closes its end; the last error of the
  // read that ended it says whether a client was there at all.
  std::string ReadMessage(DWORD& endError);
  void WaitForNextClient();

  HANDLE FPipe;
  std::wstring FName;
  TRequestHandler FOnRequest;
  std::atomic<bool> FTerminated{false};
  UniqueHandle FThread;
};

extern std::unique_ptr<TPipeReader> PipeReader;

// False when this process became the first instance (then PipeReader runs);
// true when the request was handed to the running launcher. Raises EOSError
// when the running launcher cannot be reached.
bool CheckRunningInstance();

// Main thread. Requests that arrive before the window is ready are held;
// WindowReady delivers them, WindowClosing drops them and every later one.
void HandlePipeRequest(const TPipeRequest& request);
void PipeRequestsWindowReady();
void PipeRequestsWindowClosing();
