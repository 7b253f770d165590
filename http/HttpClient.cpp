#include "HttpClient.h"

#include <cwchar>
#include <memory>

#include "HttpExceptions.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "SysTypes.h"
#include "WinHttpBinding.h"

namespace {

const wchar_t* NullIfEmpty(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttp().SetOption(handle, option, &value, sizeof(value));
}

// TLS 1.0 to 1.2 (TLS 1.0 alone before Windows 7), and TLS 1.3 where the
// system takes it; SSL 3.0 is never offered.
void SetSecureProtocols(HINTERNET session, uint8_t level) {
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
  if (level >= 5) protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  if (level >= 5 && SetDwordOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS,
                                   protocols | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3)) {
    return;
  }
  if (!SetDwordOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, protocols)) CheckWinHttpError();
}

}  // namespace

THTTPClient::THTTPClient() = default;

THTTPClient::THTTPClient(const std::wstring& userAgent, const std::wstring& proxyName,
                         const std::wstring& proxyByPass, bool async)
    : THTTPClient() {
  InitSession(userAgent, proxyName, proxyByPass, async);
}

THTTPClient::~THTTPClient() { CloseSession(); }

void THTTPClient::CloseSession() {
  if (FSession) {
    FSession.reset();
    WinHttpUseEnd();
  }
}

void THTTPClient::InitSession(const std::wstring& userAgent, const std::wstring& proxyName,
                              const std::wstring& proxyByPass, bool async) {
  CloseSession();
  const auto& api = WinHttp();
  uint8_t level = WindowsVersionLevel();
  DWORD accessType = !proxyName.empty() ? WINHTTP_ACCESS_TYPE_NAMED_PROXY
                     : level >= 7       ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
                                        : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  FIsAsynchronous = async;
  FSession.reset(api.Open(NullIfEmpty(userAgent), accessType, NullIfEmpty(proxyName), NullIfEmpty(proxyByPass),
                          async ? WINHTTP_FLAG_ASYNC : 0));
  if (!FSession) {
    CheckWinHttpError();
    return;
  }
  WinHttpUseBegin();
  try {
    if (!api.SetTimeouts(FSession.get(), static_cast<int>(ResolveTimeout), static_cast<int>(ConnectTimeout),
                         static_cast<int>(SendTimeout), static_cast<int>(ReceiveTimeout))) {
      CheckWinHttpError();
    }
    SetSecureProtocols(FSession.get(), level);
  } catch (const Exception&) {
    // Refused options leave the client without a session; Send reports it.
    CloseSession();
  }
}

THTTPAsyncContext* THTTPClient::Send(THTTPRequest* request, THTTPResponse* response, const TURL& url) {
  if (!FSession) throw EHTTPNoSession(L"The HTTP client has no session");
  const auto& api = WinHttp();

  UniqueInternet connection(api.Connect(FSession.get(), url.Server.c_str(), url.PortInt(), 0));
  if (!connection) CheckWinHttpError();
  DWORD flags = WINHTTP_FLAG_REFRESH | (request->UseSSL() ? WINHTTP_FLAG_SECURE : 0);
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  UniqueInternet handle(api.OpenRequest(connection.get(), request->Method().c_str(), url.Address.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, acceptTypes, flags));
  if (!handle) CheckWinHttpError();

  // From here on the context owns both handles; leaving by an exception
  // destroys it and closes them.
  HINTERNET requestHandle = handle.get();
  auto context = THTTPAsyncContext::Create(this, request, response, handle.release(), connection.release());

  if (!request->KeepAlive() &&
      !SetDwordOption(requestHandle, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_KEEP_ALIVE)) {
    CheckWinHttpError();
  }

  // Waiting for the reply headers is bounded by the receive timeout too (some
  // WinHTTP versions wait without end by default); a refusal changes nothing.
  SetDwordOption(requestHandle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, ReceiveTimeout);

  if (FIsAsynchronous) {
    // The context value is attached now, so that even an exchange disposed
    // before it ran finds its context when its handle reports closing.
    DWORD_PTR contextValue = reinterpret_cast<DWORD_PTR>(context.get());
    if (!api.SetOption(requestHandle, WINHTTP_OPTION_CONTEXT_VALUE, &contextValue, sizeof(contextValue))) {
      CheckWinHttpError();
    }
    if (api.SetStatusCallback(requestHandle, WinHttpStatusCallback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
      CheckWinHttpError();
    }
    context->FSelf = context;
    return context.get();
  }

  // Synchronous: feed the state machine the notifications ourselves; every
  // WinHTTP call inside blocks until done.
  context->Run();
  while (request->HaveDataToSend()) context->Callback(WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE, nullptr, 0);
  context->Callback(WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE, nullptr, 0);
  context->Callback(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, nullptr, 0);
  if (!context->IsClosed()) {
    DWORD count = context->FAvailableSize;
    context->Callback(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &count, sizeof(count));
  }
  while (!context->IsClosed()) context->ReadNextChunk();
  return nullptr;
}

std::wstring THTTPClient::Get(const std::wstring& address) {
  TURL url;
  if (!url.From(address)) return L"";
  THTTPClient client(kDefaultUserAgent, L"", L"", false);
  THTTPGetRequest request;
  request.SetUseSSL(url.Scheme == L"https");
  THTTPStringResponse response;
  client.Send(&request, &response, url);
  if (response.HTTPStatus() != 200) {
    wchar_t message[64];
    swprintf(message, 64, L"Wrong status: %d", response.HTTPStatus());
    throw Exception(message);
  }
  return response.Result();
}

THTTPAsyncContext* THTTPClient::GetAsyncString(const std::wstring& address) {
  TURL url;
  if (!url.From(address)) return nullptr;
  auto client = std::make_unique<THTTPClient>(kDefaultUserAgent, L"", L"", true);
  auto request = std::make_unique<THTTPGetRequest>();
  request->SetUseSSL(url.Scheme == L"https");
  auto response = std::make_unique<THTTPStringResponse>();
  THTTPAsyncContext* context = client->Send(request.get(), response.get(), url);
  context->SetNeedDestroyClient(true);
  context->SetNeedDestroyAll(true);
  client.release();
  request.release();
  response.release();
  return context;
}
