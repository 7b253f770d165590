#pragma once
// One HTTP exchange in flight: its WinHTTP connection and request handles, the
// caller's request and response, the receive buffer and the state machine
// that WinHTTP's status notifications drive.
//
// Asynchronous use (THTTPClient::Send on an asynchronous client returns the
// context unstarted):
//   auto* context = client.Send(request, response, url);
//   context->SetNeedDestroyAll(true);      // the context frees request and response
//   context->Run([this](THTTPAsyncContext* c) { ... }, true);
// The handler runs once, on a WinHTTP worker thread, when the body has ended
// (or the response declined it); the response is complete and the request
// handle still open, so Response()->GetIntegerHeaderByName works there. The
// handler must not dispose the context and must queue any user-interface work
// to the main thread itself. After it returns nothing of the exchange may be
// used. A failure (a WinHTTP error, EAbort from an abort test, an exception
// of the response or of the handler) reaches the main thread as
// EHTTPWrapperException through MainThread::Queue, with the cause as inner
// exception; the handler is then not called (again). An owner that wants its
// exchanges' failures itself sets SetOnFailed before Run.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "WinHttpBinding.h"

class THTTPClient;
class THTTPRequest;
class THTTPResponse;
class THTTPAsyncContext;

using THTTPAsyncContextEndLoading = std::function<void(THTTPAsyncContext* AContext)>;
// Receives the exchange's failure on the WinHTTP worker thread instead of the
// main thread's last-chance handler; it must not raise.
using THTTPAsyncContextFailed = std::function<void(std::shared_ptr<class EHTTPWrapperException> failure)>;

class THTTPAsyncContext : public std::enable_shared_from_this<THTTPAsyncContext> {
 public:
  static constexpr uint32_t kReceiveBufferSize = 8192;
  static constexpr uint32_t kSendChunkSize = 4096;

  // Only THTTPClient::Send creates contexts; the context owns both handles.
  static std::shared_ptr<THTTPAsyncContext> Create(THTTPClient* client, THTTPRequest* request,
                                                   THTTPResponse* response, HINTERNET handle, HINTERNET connection);
  THTTPAsyncContext(const THTTPAsyncContext&) = delete;
  THTTPAsyncContext& operator=(const THTTPAsyncContext&) = delete;
  virtual ~THTTPAsyncContext();

  // Sends the request; a second call raises EHTTPAlreadyRunning.
  void Run();
  // Sets DisposeAfterLoad and the handler, then Run: how exchanges are started.
  void Run(THTTPAsyncContextEndLoading onEndLoad, bool disposeAfterLoad);
  // Stores the handler; on a finished exchange it runs at once.
  void SetOnEndLoad(THTTPAsyncContextEndLoading value);
  // Set before Run: failures go to this handler, not to the main thread.
  void SetOnFailed(THTTPAsyncContextFailed value) { FOnFailed = std::move(value); }
  const THTTPAsyncContextFailed& OnFailed() const { return FOnFailed; }
  // Closes the request handle; the context frees itself when WinHTTP reports
  // the handle closing. Idempotent; the last thing a caller does with it.
  void Dispose();

  // The state machine: one status notification of the request.
  void Callback(DWORD status, void* statusInformation, DWORD statusInformationLength);
  // One read step of a synchronous exchange.
  void ReadNextChunk();
  int32_t GetNextDataChunk(void* data, int32_t length);

  THTTPRequest* Request() const { return FRequest; }
  THTTPResponse* Response() const { return FResponse; }
  THTTPClient* Client() const { return FClient; }
  HINTERNET Handle() const { return FHandle.load(); }
  HINTERNET Connection() const { return FConnection.get(); }
  bool IsClosed() const { return FIsClosed.load(); }
  bool Disposed() const { return FDisposed.load(); }
  int64_t ReadedSize() const { return FReadedSize; }
  bool NeedDestroyClient() const { return FNeedDestroyClient; }
  void SetNeedDestroyClient(bool value) { FNeedDestroyClient = value; }
  bool NeedDestroyAll() const { return FNeedDestroyAll; }
  void SetNeedDestroyAll(bool value) { FNeedDestroyAll = value; }
  bool DisposeAfterLoad() const { return FDisposeAfterLoad; }
  void SetDisposeAfterLoad(bool value) { FDisposeAfterLoad = value; }

 private:
  friend class THTTPClient;
  THTTPAsyncContext(THTTPClient* client, THTTPRequest* request, THTTPResponse* response, HINTERNET handle,
                    HINTERNET connection);
  void Finish(uint32_t size);
  void DoEndLoad();
  void SendNextChunkOrReceive();
  void ReadNext();
  void QueryAvailable();

  int32_t FProcessedDataLength = 0;
  alignas(8) uint8_t FBufferData[kReceiveBufferSize];
  uint8_t FSendBuffer[kSendChunkSize];
  THTTPRequest* FRequest;
  THTTPResponse* FResponse;
  THTTPClient* FClient;
  std::atomic<HINTERNET> FHandle;
  UniqueInternet FConnection;
  bool FAsync;
  int64_t FReadedSize = 0;
  DWORD FLastReadedSize = 0;
  DWORD FAvailableSize = 0;
  std::atomic<bool> FIsClosed{false};
  std::atomic<bool> FDisposed{false};
  bool FNeedDestroyClient = false;
  bool FNeedDestroyAll = false;
  bool FDisposeAfterLoad = false;
  THTTPAsyncContextEndLoading FOnEndLoad;
  THTTPAsyncContextFailed FOnFailed;
  std::atomic<int32_t> FStarted{0};
  // An asynchronous exchange holds itself until its request handle reports
  // closing; wrappers of its failures hold it only weakly.
  std::shared_ptr<THTTPAsyncContext> FSelf;
};

// The status callback installed on every asynchronous request. No exception
// leaves it: a failure is wrapped in EHTTPWrapperException and raised on the
// main thread.
void CALLBACK WinHttpStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID statusInformation,
                                    DWORD statusInformationLength);
