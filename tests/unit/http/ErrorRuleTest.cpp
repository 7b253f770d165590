#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "WinHttpBinding.h"

TEST(WinHttpBinding, LoadFailuresNameWhatIsMissing) {
  try {
    LoadWinHttpLibrary(L"no-such-library.dll");
    ADD_FAILURE() << "loaded a missing library";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Unable to load library no-such-library.dll");
  }
  try {
    LoadWinHttpLibrary(L"kernel32.dll");
    ADD_FAILURE() << "kernel32 has no WinHTTP entry points";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Unable to find WinHttpOpen() in kernel32.dll");
  }
}

TEST(WinHttpBinding, StartUpBindsEveryRequiredSlot) {
  ASSERT_NE(WinHttpModule(), nullptr);
  LoadWinHttp();  // a second call changes nothing
  const auto* slots = reinterpret_cast<void* const*>(&WinHttp());
  for (int slot = 0; slot < kWinHttpRequiredSlots; ++slot) EXPECT_NE(slots[slot], nullptr) << WinHttpFunctionName(slot);
  bool allWebSocket = true;
  for (int slot = kWinHttpRequiredSlots; slot < whSlotCount; ++slot) allWebSocket = allWebSocket && slots[slot];
  EXPECT_EQ(WinHttpWebSocketAvailable(), allWebSocket);
}

TEST(WinHttpBinding, StaysLoadedWhileASessionIsOpen) {
  THTTPClient client(kDefaultUserAgent, L"", L"", true);
  ASSERT_TRUE(client.HasSession());
  UnloadWinHttp();
  EXPECT_NE(WinHttpModule(), nullptr);
}

TEST(HttpErrorRule, LastErrorDecidesWhetherToRaise) {
  for (DWORD quiet : {DWORD{0}, DWORD{ERROR_INVALID_HANDLE}}) {
    SetLastError(quiet);
    EXPECT_EQ(CheckWinHttpError(), quiet);
  }
  SetLastError(12002);
  try {
    CheckWinHttpError();
    ADD_FAILURE() << "no exception";
  } catch (const EHTTPCallbackError& e) {
    EXPECT_EQ(e.ErrorCode, 12002u);
    const std::wstring& message = e.Message();
    EXPECT_EQ(message.substr(0, message.find(L"\r\n")), L"System Error.  Code: 12002.");
    // Then the system's text without a trailing full stop or line break
    // (Wine's winhttp.dll carries no texts, so it may be empty there).
    size_t lineEnd = message.find(L"\r\n");
    ASSERT_NE(lineEnd, std::wstring::npos);
    std::wstring text = message.substr(lineEnd + 2);
    EXPECT_EQ(text, TrimSystemText(text));
  }
}

TEST(HttpErrorRule, SystemTextTrimming) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"The operation timed out.\r\n", L"The operation timed out"},
      {L"Several stops... . ", L"Several stops"},
      {L"Tab\t\x01", L"Tab"},
      {L"Inner. Stops stay", L"Inner. Stops stay"},
      {L" .\r\n", L""},
      {L"", L""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(TrimSystemText(text), expected) << testing::PrintToString(std::wstring(text));
}

TEST(HttpErrorRule, AsynchronousErrorsNameTheFunction) {
  const std::pair<uintptr_t, const wchar_t*> cases[] = {
      {API_RECEIVE_RESPONSE, L"WinHttpReceiveResponse"}, {API_QUERY_DATA_AVAILABLE, L"WinHttpQueryDataAvailable"},
      {API_READ_DATA, L"WinHttpReadData"},               {API_WRITE_DATA, L"WinHttpWriteData"},
      {API_SEND_REQUEST, L"WinHttpSendRequest"},
  };
  for (const auto& [api, name] : cases) EXPECT_EQ(AsyncApiSuffix(api), std::wstring(L" in function ") + name);

  try {
    RaiseCallbackError(ERROR_WINHTTP_CANNOT_CONNECT, AsyncApiSuffix(API_SEND_REQUEST));
    ADD_FAILURE() << "no exception";
  } catch (const EHTTPCallbackError& e) {
    EXPECT_EQ(e.ErrorCode, 12029u);
    EXPECT_EQ(e.Message().rfind(L"System Error.  Code: 12029.\r\n", 0), 0u);
    EXPECT_TRUE(e.Message().ends_with(L" in function WinHttpSendRequest"));
  }
}

class HttpStatusCallback : public THttpTest {};

TEST_F(HttpStatusCallback, EmptyContextReachesMainThreadWrapped) {
  WINHTTP_ASYNC_RESULT result = {API_SEND_REQUEST, ERROR_WINHTTP_CANNOT_CONNECT};
  WinHttpStatusCallback(nullptr, 0, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, &result, sizeof(result));
  PumpUntil([&] { return !Errors.empty(); });
  const auto& wrapper = OnlyWrapper();
  EXPECT_EQ(wrapper.Context(), nullptr);
  EXPECT_STREQ(wrapper.GetBaseException().ClassName(), L"EHTTPEmptyContextException");
  EXPECT_EQ(wrapper.GetBaseException().Message(), L"Empty context in callback!");
}
