#pragma once
// What the client's tests share: a response that records what the exchange did
// to it (and outlives it), a fixture that collects exceptions raised on the
// main thread, and an asynchronous runner.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MainThreadQueue.h"
#include "TestServer.h"
#include "WinHTTP.h"

struct TProbe {
  TMemoryStream Stream;
  std::atomic<int> FinishCalls{0};
  std::atomic<uint32_t> FinishSize{0xFFFFFFFF};
  std::atomic<int> Destroyed{0};
  std::string Data() { return std::string(reinterpret_cast<const char*>(Stream.Memory()), Stream.GetSize()); }
};

class TProbeResponse : public THTTPStreamResponse {
 public:
  TProbeResponse(std::shared_ptr<TProbe> probe, bool onlySuccess, TSilentTerminator isTerminated = nullptr)
      : THTTPStreamResponse(&probe->Stream, false, std::move(isTerminated), onlySuccess), FProbe(std::move(probe)) {}
  ~TProbeResponse() override { ++FProbe->Destroyed; }
  void FinishLoad(uint32_t size) override {
    FProbe->FinishSize = size;
    ++FProbe->FinishCalls;
  }

 private:
  std::shared_ptr<TProbe> FProbe;
};

// A body whose every byte depends on its position, so that a lost, repeated or
// reordered piece shows.
std::string PatternBody(size_t size);
std::vector<uint8_t> Bytes(const std::string& s);
TURL UrlOf(const std::wstring& text);
// The code a timed-out exchange fails with: ERROR_WINHTTP_TIMEOUT on Windows;
// Wine's WinHTTP passes the socket's WSAETIMEDOUT on instead.
uint32_t TimeoutErrorCode();

class THttpTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Pumps the main thread until pred holds (a safety limit, not a speed goal).
  void PumpUntil(const std::function<bool()>& pred);
  // The exceptions the main thread received, in order.
  std::vector<std::shared_ptr<Exception>> Errors;

  // Starts an asynchronous exchange that frees request and response itself;
  // handlerCalls counts end-of-load calls; extra runs inside the handler.
  THTTPAsyncContext* StartAsync(THTTPClient& client, THTTPRequest* request, THTTPResponse* response,
                                const std::wstring& url, std::shared_ptr<std::atomic<int>> handlerCalls,
                                THTTPAsyncContextEndLoading extra = nullptr);
  // The one wrapper received, checked and returned.
  const EHTTPWrapperException& OnlyWrapper();
};
