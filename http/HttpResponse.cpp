#include "HttpResponse.h"

#include "Exceptions.h"
#include "HttpAsyncContext.h"
#include "WinHttpBinding.h"

void THTTPResponse::ReceiveData(const void*, uint32_t count) { FDataSize += count; }

void THTTPResponse::FinishLoad(uint32_t) {}

bool THTTPResponse::ProcessHeaders(HINTERNET request) {
  FHTTPStatus = GetIntegerHeader(request, WINHTTP_QUERY_STATUS_CODE, -1);
  return FHTTPStatus == 200;
}

std::wstring THTTPResponse::GetHeader(HINTERNET request, DWORD infoLevel) {
  const auto& api = WinHttp();
  DWORD size = 0;
  if (api.QueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                       WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(wchar_t)) {
    return L"";
  }
  std::wstring result(size / sizeof(wchar_t) - 1, L'\0');
  if (!api.QueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, result.data(), &size,
                        WINHTTP_NO_HEADER_INDEX)) {
    return L"";
  }
  result.resize(size / sizeof(wchar_t));
  return result;
}

int32_t THTTPResponse::GetIntegerHeader(HINTERNET request, DWORD infoLevel, int32_t defaultValue) {
  DWORD value = 0, size = sizeof(value);
  if (!WinHttp().QueryHeaders(request, infoLevel | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value,
                              &size, WINHTTP_NO_HEADER_INDEX)) {
    return defaultValue;
  }
  return static_cast<int32_t>(value);
}

uint32_t THTTPResponse::GetIntegerHeaderByName(const std::wstring& name) const {
  HINTERNET request = FContext ? FContext->Handle() : nullptr;
  if (!request) return 0;
  DWORD value = 0, size = sizeof(value);
  if (!WinHttp().QueryHeaders(request, WINHTTP_QUERY_CUSTOM | WINHTTP_QUERY_FLAG_NUMBER, name.c_str(), &value,
                              &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return value;
}

THTTPCustomStreamResponse::THTTPCustomStreamResponse(TStream* outStream, bool ownStream)
    : FOutStream(outStream), FStreamOwner(ownStream) {}

THTTPCustomStreamResponse::~THTTPCustomStreamResponse() {
  if (FStreamOwner) delete FOutStream;
}

void THTTPCustomStreamResponse::ReceiveData(const void* buffer, uint32_t count) {
  THTTPResponse::ReceiveData(buffer, count);
  FOutStream->WriteBuffer(buffer, static_cast<int32_t>(count));
}

THTTPStringResponse::THTTPStringResponse() : THTTPCustomStreamResponse(new TMemoryStream, true) {}

bool THTTPStringResponse::ProcessHeaders(HINTERNET request) {
  THTTPResponse::ProcessHeaders(request);
  std::wstring contentType = GetHeader(request, WINHTTP_QUERY_CONTENT_TYPE);
  if (contentType == L"application/octet-stream") return true;
  std::wstring charset = CharsetOfContentType(contentType);
  if (!charset.empty()) {
    FEncoding = EncodingFromCharset(charset);
    if (!FEncoding) throw EEncodingError(L"Invalid encoding name");
  } else {
    FEncoding = TTextEncoding{kCodePageLatin1};
  }
  return true;
}

void THTTPStringResponse::FinishLoad(uint32_t size) {
  auto* stream = static_cast<TMemoryStream*>(OutStream());
  const uint8_t* data = stream->Memory();
  size_t length = static_cast<size_t>(stream->GetSize());
  if (!FEncoding) FEncoding = EncodingFromByteOrderMark(data, length).value_or(AnsiEncoding());
  FResult = DecodeText(*FEncoding, data, length);
}

THTTPStreamResponse::THTTPStreamResponse(TStream* outStream, bool ownStream, TSilentTerminator isTerminated,
                                         bool onlySuccess)
    : THTTPCustomStreamResponse(outStream, ownStream),
      FIsTerminated(std::move(isTerminated)),
      FOnlySuccess(onlySuccess) {}

void THTTPStreamResponse::ReceiveData(const void* buffer, uint32_t count) {
  THTTPCustomStreamResponse::ReceiveData(buffer, count);
  if (FIsTerminated && FIsTerminated()) throw EAbort(L"Operation aborted");
}

bool THTTPStreamResponse::ProcessHeaders(HINTERNET request) {
  bool success = THTTPResponse::ProcessHeaders(request);
  return FOnlySuccess ? success : true;
}
