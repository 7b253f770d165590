#include "HttpTestSupport.h"

std::string PatternBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return body;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TURL UrlOf(const std::wstring& text) {
  TURL url;
  url.From(text);
  return url;
}

uint32_t TimeoutErrorCode() {
  bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine ? WSAETIMEDOUT : ERROR_WINHTTP_TIMEOUT;
}

void THttpTest::SetUp() {
  MainThread::Initialize();
  MainThread::SetExceptionHandler([this](const Exception& e) { Errors.push_back(e.Clone()); });
}

void THttpTest::TearDown() {
  MainThread::SetExceptionHandler(nullptr);
  Errors.clear();
  MainThread::ProcessPending();
}

void THttpTest::PumpUntil(const std::function<bool()>& pred) {
  ASSERT_TRUE(MainThread::PumpUntil(pred, 60000)) << "the exchange did not end";
}

THTTPAsyncContext* THttpTest::StartAsync(THTTPClient& client, THTTPRequest* request, THTTPResponse* response,
                                         const std::wstring& url, std::shared_ptr<std::atomic<int>> handlerCalls,
                                         THTTPAsyncContextEndLoading extra) {
  THTTPAsyncContext* context = client.Send(request, response, UrlOf(url));
  context->SetNeedDestroyAll(true);
  context->Run(
      [handlerCalls, extra](THTTPAsyncContext* c) {
        ++*handlerCalls;
        if (extra) extra(c);
      },
      true);
  return context;
}

const EHTTPWrapperException& THttpTest::OnlyWrapper() {
  EXPECT_EQ(Errors.size(), 1u);
  auto* wrapper = dynamic_cast<const EHTTPWrapperException*>(Errors.at(0).get());
  if (!wrapper) throw std::runtime_error("not a wrapper");
  EXPECT_EQ(wrapper->Message(), L"Something was wrong!");
  return *wrapper;
}
