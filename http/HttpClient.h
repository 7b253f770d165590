#pragma once
// THTTPClient owns one WinHTTP session and starts exchanges on it.
//
// Synchronous client: Send carries the whole exchange out on the calling
// thread and returns nullptr; the response then holds status, size and body.
// WinHTTP failures raise EHTTPCallbackError; the response's own exceptions
// (EEncodingError, stream write errors, EAbort) pass through. HTTP statuses
// are never errors here.
//   THTTPClient client(kUserAgent, L"", L"", false);
//   THTTPGetRequest request;            // request.SetUseSSL(url.Scheme == L"https")
//   THTTPStringResponse response;
//   client.Send(&request, &response, url);
//
// Asynchronous client: Send returns the exchange unstarted; the caller hands
// it request and response and starts it (see HttpAsyncContext.h):
//   auto* context = client.Send(new THTTPGetRequest, new THTTPStringResponse, url);
//   context->SetNeedDestroyAll(true);
//   context->Run([this](THTTPAsyncContext* c) { OnLoaded(c); }, true);
//
// One client may run many exchanges at once from any thread; InitSession and
// destruction must not race with starting exchanges. A client without a
// session (its options were refused) raises EHTTPNoSession from Send instead
// of leaving an exchange that nothing would ever answer.
#include <cstdint>
#include <string>

#include "HttpAsyncContext.h"
#include "URL.h"
#include "WinHttpBinding.h"

class THTTPRequest;
class THTTPResponse;

inline constexpr const wchar_t* kDefaultUserAgent =
    L"Mozilla/5.0 (Windows NT 6.3; Win64; x64; Trident/7.0; rv:11.0) like Gecko";

class THTTPClient {
 public:
  // No session yet; the four timeouts are 60000 ms.
  THTTPClient();
  THTTPClient(const std::wstring& userAgent, const std::wstring& proxyName, const std::wstring& proxyByPass,
              bool async);
  THTTPClient(const THTTPClient&) = delete;
  THTTPClient& operator=(const THTTPClient&) = delete;
  // Closes the session only; running exchanges keep their own handles.
  virtual ~THTTPClient();

  // (Re)opens the session with the current timeouts. Refused timeouts or
  // protocol options leave the client without a session.
  void InitSession(const std::wstring& userAgent, const std::wstring& proxyName, const std::wstring& proxyByPass,
                   bool async);
  // The request and response stay the caller's unless an asynchronous
  // context is told otherwise (NeedDestroyAll).
  THTTPAsyncContext* Send(THTTPRequest* request, THTTPResponse* response, const TURL& url);

  bool IsAsynchronous() const { return FIsAsynchronous; }
  bool HasSession() const { return static_cast<bool>(FSession); }

  // One synchronous GET with a temporary client; "" for an unparsable URL;
  // raises Exception "Wrong status: %d" unless the status is 200.
  static std::wstring Get(const std::wstring& url);
  // An unstarted asynchronous GET with a text response and a temporary client,
  // all freed with the context; nullptr for an unparsable URL.
  static THTTPAsyncContext* GetAsyncString(const std::wstring& url);

  uint32_t ConnectTimeout = 60000;
  uint32_t ReceiveTimeout = 60000;
  uint32_t ResolveTimeout = 60000;
  uint32_t SendTimeout = 60000;

 private:
  void CloseSession();

  bool FIsAsynchronous = false;
  UniqueInternet FSession;
};
