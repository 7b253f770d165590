#include "HttpExceptions.h"

#include <windows.h>

#include <cwchar>

#include "HttpAsyncContext.h"
#include "WinHttpBinding.h"

struct EHTTPWrapperException::TDisposeGuard {
  std::weak_ptr<THTTPAsyncContext> Context;
  ~TDisposeGuard() {
    if (auto context = Context.lock()) {
      if (context->DisposeAfterLoad()) context->Dispose();
    }
  }
};

EHTTPWrapperException::EHTTPWrapperException(std::wstring message,
                                             const std::shared_ptr<THTTPAsyncContext>& context,
                                             ExceptionPtr inner)
    : EHTTPException(std::move(message), std::move(inner)) {
  if (context) {
    FGuard = std::make_shared<TDisposeGuard>();
    FGuard->Context = context;
  }
}

std::shared_ptr<THTTPAsyncContext> EHTTPWrapperException::Context() const {
  return FGuard ? FGuard->Context.lock() : nullptr;
}

uint32_t CheckWinHttpError() {
  uint32_t code = GetLastError();
  if (code == 0 || code == ERROR_INVALID_HANDLE) return code;
  RaiseCallbackError(code, L"");
}

std::wstring TrimSystemText(std::wstring text) {
  while (!text.empty() && (text.back() < 32 || text.back() == L' ' || text.back() == L'.')) text.pop_back();
  return text;
}

void RaiseCallbackError(uint32_t errorCode, const std::wstring& suffix) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                WinHttpModule(), errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (buffer) {
    text.assign(buffer, length);
    LocalFree(buffer);
  }
  wchar_t head[64];
  swprintf(head, 64, L"System Error.  Code: %d.\r\n", static_cast<int>(errorCode));
  throw EHTTPCallbackError(errorCode, head + TrimSystemText(std::move(text)) + suffix);
}

std::wstring AsyncApiSuffix(uintptr_t apiIdentifier) {
  return std::wstring(L" in function ") + WinHttpFunctionName(static_cast<int>((apiIdentifier + 5) % 128));
}
