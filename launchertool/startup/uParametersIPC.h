#pragma once
// Single instance per user session: the first launcher owns the instance
// mutex and the pipe of its scope (InstanceScope.h); a later one writes its
// request into that pipe and ends. Reader threads hand requests to the window
// on the main thread.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"
#include "startup/ConnectLink.h"

// Several instances listen, so that starts in a burst seldom find it busy.
inline constexpr int kPipeListeners = 4;
// A client gets this long to write its message and close its end.
inline constexpr DWORD kPipeClientTimeoutMs = 2000;

// The connect text of the /connect link of this process, or empty.
std::wstring GetConnectString();
// The same, empty (with a log line) when the text is refused.
std::wstring AcceptedConnectString();

class TPipeReader {
 public:
  // Called on the main thread for every recognised request.
  using TRequestHandler = std::function<void(const TPipeRequest&)>;
  // Creates the pipe's instances (the first one exclusively when first is
  // set) with the given security (default when null) and starts a reader on
  // each; raises EOSError when no instance could be created. The reader owns
  // the pipe: destroying it ends the pipe.
  explicit TPipeReader(std::wstring name, TRequestHandler onRequest = {}, bool first = true,
                       int listeners = kPipeListeners, PSECURITY_DESCRIPTOR security = nullptr);
  ~TPipeReader();
  TPipeReader(const TPipeReader&) = delete;
  TPipeReader& operator=(const TPipeReader&) = delete;

 private:
  struct TListener;
  static DWORD WINAPI ThreadEntry(LPVOID listener) noexcept;
  void Serve(TListener& listener);
  bool WaitForClient(TListener& listener);
  TPipeMessageBuffer ReadMessage(TListener& listener);
  // Waits for an overlapped operation; false when it was cancelled (stop or
  // time-out), after the cancellation has completed.
  bool Complete(TListener& listener, DWORD timeoutMs, DWORD& transferred, DWORD& error);

  std::wstring FName;
  TRequestHandler FOnRequest;
  UniqueHandle FStop;
  std::vector<std::unique_ptr<TListener>> FListeners;
};

extern std::unique_ptr<TPipeReader> PipeReader;

// False when this process became the first instance (then PipeReader runs);
// true when the request was handed to the running launcher. Raises EOSError
// when the running launcher cannot be reached.
bool CheckRunningInstance();
// Ends the pipe and frees the instance mutex at once, so that a launcher
// started now (a restart) becomes the first instance. Main thread.
void ReleaseInstance();

// Main thread. Requests that arrive before the window is ready are held;
// WindowReady delivers them, WindowClosing drops them and every later one.
void HandlePipeRequest(const TPipeRequest& request);
void PipeRequestsWindowReady();
void PipeRequestsWindowClosing();
