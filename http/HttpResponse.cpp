#include "HttpResponse.h"

#include "Exceptions.h"
#include "HttpExceptions.h"
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

namespace {

// A Content-Length above limit; an unreadable one is left to the body's own checks.
bool AnnouncesMoreThan(const std::wstring& length, int64_t limit) {
  if (length.empty()) return false;
  int64_t value = 0;
  for (wchar_t c : length) {
    if (c < L'0' || c > L'9') return false;
    if (value > limit) return true;
    value = value * 10 + (c - L'0');
  }
  return value > limit;
}

}  // namespace

void TStallWatch::Received(uint32_t count) {
  const uint64_t now = GetTickCount64();
  if (FWindowStart == 0) FWindowStart = now;
  FWindowBytes += count;
  if (now - FWindowStart < kStallMs) return;
  if (FWindowBytes < kStallBytes) {
    throw EHTTPStalled(L"The body stalled: " + std::to_wstring(FWindowBytes) + L" bytes in " +
                       std::to_wstring((now - FWindowStart) / 1000) + L" s");
  }
  FWindowStart = now;
  FWindowBytes = 0;
}

void THTTPCustomStreamResponse::ReceiveData(const void* buffer, uint32_t count) {
  FStallWatch.Received(count);
  THTTPResponse::ReceiveData(buffer, count);
  FOutStream->WriteBuffer(buffer, static_cast<int32_t>(count));
}

THTTPStringResponse::THTTPStringResponse() : THTTPCustomStreamResponse(new TMemoryStream, true) {}

bool THTTPStringResponse::ProcessHeaders(HINTERNET request) {
  THTTPResponse::ProcessHeaders(request);
  const std::wstring length = GetHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (AnnouncesMoreThan(length, kLargestText)) throw EHTTPReplyTooLarge(L"The reply announces " + length + L" bytes");
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

void THTTPStringResponse::ReceiveData(const void* buffer, uint32_t count) {
  if (DataSize() + count > kLargestText) {
    throw EHTTPReplyTooLarge(L"The reply passed " + std::to_wstring(kLargestText) + L" bytes");
  }
  THTTPCustomStreamResponse::ReceiveData(buffer, count);
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
