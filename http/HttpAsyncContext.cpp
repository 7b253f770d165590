#include "HttpAsyncContext.h"

#include "HttpClient.h"
#include "HttpExceptions.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MainThreadQueue.h"
#include "WinHttpBinding.h"

std::shared_ptr<THTTPAsyncContext> THTTPAsyncContext::Create(THTTPClient* client, THTTPRequest* request,
                                                             THTTPResponse* response, HINTERNET handle,
                                                             HINTERNET connection) {
  return std::shared_ptr<THTTPAsyncContext>(new THTTPAsyncContext(client, request, response, handle, connection));
}

THTTPAsyncContext::THTTPAsyncContext(THTTPClient* client, THTTPRequest* request, THTTPResponse* response,
                                     HINTERNET handle, HINTERNET connection)
    : FRequest(request),
      FResponse(response),
      FClient(client),
      FHandle(handle),
      FConnection(connection),
      FAsync(client && client->IsAsynchronous()) {
  WinHttpUseBegin();
  if (FResponse) FResponse->FContext = this;
}

THTTPAsyncContext::~THTTPAsyncContext() {
  const auto& api = WinHttp();
  if (HINTERNET handle = FHandle.exchange(nullptr)) api.CloseHandle(handle);
  // The connection goes after its request.
  FConnection.reset();
  if (FNeedDestroyAll) {
    delete FRequest;
    delete FResponse;
  } else if (FResponse && FResponse->FContext == this) {
    FResponse->FContext = nullptr;
  }
  if (FNeedDestroyClient) delete FClient;
  WinHttpUseEnd();
}

void THTTPAsyncContext::Run() {
  if (FStarted.exchange(1) != 0) throw EHTTPAlreadyRunning(L"Request already started");
  std::wstring headers = FRequest->GetHeaders();
  // From here on a notification may finish and free the context on another
  // thread before the call returns: nothing below touches it.
  if (!WinHttp().SendRequest(FHandle.load(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                             static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0,
                             static_cast<DWORD>(FRequest->TotalDataLength()), reinterpret_cast<DWORD_PTR>(this))) {
    CheckWinHttpError();
  }
}

void THTTPAsyncContext::Run(THTTPAsyncContextEndLoading onEndLoad, bool disposeAfterLoad) {
  FDisposeAfterLoad = disposeAfterLoad;
  SetOnEndLoad(std::move(onEndLoad));
  try {
    Run();
  } catch (...) {
    // A request that never left gets no notification that would free it:
    // the exchange, its handles, request and response go now.
    if (disposeAfterLoad) Dispose();
    throw;
  }
}

void THTTPAsyncContext::SetOnEndLoad(THTTPAsyncContextEndLoading value) {
  FOnEndLoad = std::move(value);
  if (FIsClosed.load()) DoEndLoad();
}

void THTTPAsyncContext::Dispose() {
  if (FDisposed.exchange(true)) return;
  HINTERNET handle = FHandle.exchange(nullptr);
  if (!handle) {
    // No handle, so no closing notification will come to free the context.
    auto self = std::move(FSelf);
    return;
  }
  WinHttp().CloseHandle(handle);
}

int32_t THTTPAsyncContext::GetNextDataChunk(void* data, int32_t length) {
  int32_t n = FRequest->GetNextDataChunk(data, length);
  FProcessedDataLength += n;
  return n;
}

void THTTPAsyncContext::DoEndLoad() {
  THTTPAsyncContextEndLoading handler = FOnEndLoad;
  if (handler) {
    try {
      handler(this);
    } catch (...) {
      if (FDisposeAfterLoad) Dispose();
      throw;
    }
  }
  if (FDisposeAfterLoad) Dispose();
}

void THTTPAsyncContext::Finish(uint32_t size) {
  FResponse->FinishLoad(size);
  FIsClosed = true;
  DoEndLoad();
}

// In the helpers below the WinHTTP call is the last thing that touches the
// context: an asynchronous completion may already be running elsewhere.
void THTTPAsyncContext::SendNextChunkOrReceive() {
  const auto& api = WinHttp();
  HINTERNET handle = FHandle.load();
  if (FRequest->HaveDataToSend()) {
    int32_t n = FRequest->GetNextDataChunk(FSendBuffer, kSendChunkSize);
    if (n <= 0) return;
    // A synchronous write must report its count; an asynchronous one must not.
    DWORD written = 0;
    if (!api.WriteData(handle, FSendBuffer, static_cast<DWORD>(n), FAsync ? nullptr : &written)) CheckWinHttpError();
  } else {
    if (!api.ReceiveResponse(handle, nullptr)) CheckWinHttpError();
  }
}

void THTTPAsyncContext::ReadNext() {
  // A silently failed synchronous read then counts as the end of the body.
  if (!FAsync) FLastReadedSize = 0;
  if (!WinHttp().ReadData(FHandle.load(), FBufferData, kReceiveBufferSize, FAsync ? nullptr : &FLastReadedSize)) {
    CheckWinHttpError();
  }
}

void THTTPAsyncContext::QueryAvailable() {
  if (!WinHttp().QueryDataAvailable(FHandle.load(), FAsync ? nullptr : &FAvailableSize)) CheckWinHttpError();
}

void THTTPAsyncContext::Callback(DWORD status, void* statusInformation, DWORD statusInformationLength) {
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
      SendNextChunkOrReceive();
      break;

    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      if (FResponse->ProcessHeaders(FHandle.load())) {
        FReadedSize = 0;
        FAvailableSize = 0;
        QueryAvailable();
      } else {
        Finish(0);
      }
      break;

    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      FAvailableSize = *static_cast<const DWORD*>(statusInformation);
      if (FAvailableSize == 0) {
        Finish(static_cast<uint32_t>(FReadedSize));
      } else {
        ReadNext();
      }
      break;

    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: {
      DWORD length = statusInformationLength;
      if (length == 0) {
        // A read that returns nothing means the body has ended; asking again
        // would never end.
        FAvailableSize = 0;
        Finish(static_cast<uint32_t>(FReadedSize));
        break;
      }
      FResponse->ReceiveData(statusInformation, length);
      FReadedSize += length;
      if (FAvailableSize > length) {
        FAvailableSize -= length;
        ReadNext();
      } else {
        FAvailableSize = 0;
        QueryAvailable();
      }
      break;
    }

    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(statusInformation);
      if (result->dwResult != 0) RaiseCallbackError(result->dwError, AsyncApiSuffix(result->dwResult));
      break;
    }

    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      if (FDisposed.load()) {
        // The caller of the status callback still holds the context, so it is
        // freed when that notification ends.
        auto self = std::move(FSelf);
      }
      break;

    default:
      break;
  }
}

void THTTPAsyncContext::ReadNextChunk() {
  bool consumedAll = FLastReadedSize >= FAvailableSize;
  Callback(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, FBufferData, FLastReadedSize);
  if (consumedAll && !FIsClosed.load()) {
    DWORD count = FAvailableSize;
    Callback(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &count, sizeof(count));
  }
}

namespace {

void RaiseInMainThread(std::shared_ptr<EHTTPWrapperException> wrapper) {
  MainThread::Queue([wrapper] { wrapper->Raise(); });
}

}  // namespace

void CALLBACK WinHttpStatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID statusInformation,
                                    DWORD statusInformationLength) {
  std::shared_ptr<THTTPAsyncContext> self;
  try {
    auto* raw = reinterpret_cast<THTTPAsyncContext*>(context);
    if (!raw) throw EHTTPEmptyContextException(L"Empty context in callback!");
    // Hold the context for the whole notification: a nested close may free it.
    self = raw->weak_from_this().lock();
    if (!self) return;
    self->Callback(status, statusInformation, statusInformationLength);
  } catch (...) {
    try {
      auto wrapper = std::make_shared<EHTTPWrapperException>(L"Something was wrong!", self, CurrentExceptionAsObject());
      if (self && self->OnFailed()) {
        self->OnFailed()(std::move(wrapper));
      } else {
        RaiseInMainThread(std::move(wrapper));
      }
    } catch (...) {
      // Nothing may cross back into WinHTTP.
    }
  }
}
