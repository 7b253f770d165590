#include "update/VerifiedResponse.h"

#include <cwchar>

#include "Sha1.h"
#include "Utf8.h"
#include "uDebugUtils.h"
#include "update/DownloadError.h"

namespace {

[[noreturn]] void Refuse(const std::wstring& path, const std::wstring& logText, const std::wstring& reason) {
  LogMessage(L"Update", L"Download refused: " + path + L": " + logText);
  throw EDownloadError(L"Ошибка загрузки файла " + path + L": " + reason);
}

std::optional<int64_t> ParseContentLength(const std::wstring& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

}  // namespace

void CheckReceivedBody(const std::wstring& path, const TReceivedBody& body) {
  const std::wstring received = std::to_wstring(body.Received);
  if (body.Announced && *body.Announced != body.Received) {
    const std::wstring announced = std::to_wstring(*body.Announced);
    Refuse(path, L"received " + received + L" of " + announced + L" announced bytes",
           L"получено " + received + L" байт из " + announced + L".");
  }
  if (!body.Expected) return;
  if (body.Expected->Size != body.Received) {
    const std::wstring expected = std::to_wstring(body.Expected->Size);
    Refuse(path, L"received " + received + L" bytes, the repository's file has " + expected,
           L"получено " + received + L" байт вместо " + expected + L".");
  }
  if (body.ReceivedSha != body.Expected->Sha) {
    Refuse(path, L"blob hash mismatch: expected " + FromUtf8(body.Expected->Sha) + L", received " +
                     FromUtf8(body.ReceivedSha),
           L"файл повреждён (контрольная сумма не совпадает).");
  }
}

TVerifiedStreamResponse::TVerifiedStreamResponse(TStream* outStream, bool ownStream, TSilentTerminator isTerminated,
                                                 std::optional<TBlobId> expected)
    : THTTPStreamResponse(outStream, ownStream, std::move(isTerminated), true), FExpected(std::move(expected)) {
  if (!FExpected) return;
  FHash = std::make_unique<TSha1>();
  // The blob header carries the size; a body of another size fails anyway.
  const std::string header = "blob " + std::to_string(FExpected->Size);
  FHash->Update(header.c_str(), header.size() + 1);
}

TVerifiedStreamResponse::~TVerifiedStreamResponse() = default;

bool TVerifiedStreamResponse::ProcessHeaders(HINTERNET request) {
  const bool wanted = THTTPStreamResponse::ProcessHeaders(request);
  if (wanted) FAnnounced = ParseContentLength(GetHeader(request, WINHTTP_QUERY_CONTENT_LENGTH));
  return wanted;
}

void TVerifiedStreamResponse::ReceiveData(const void* buffer, uint32_t count) {
  if (FHash) FHash->Update(buffer, count);
  THTTPStreamResponse::ReceiveData(buffer, count);
}

void TVerifiedStreamResponse::Verify(const std::wstring& repositoryPath) {
  TReceivedBody body;
  body.Announced = FAnnounced;
  body.Received = DataSize();
  body.Expected = FExpected;
  if (FHash) body.ReceivedSha = FHash->FinishHex();
  FHash.reset();
  CheckReceivedBody(repositoryPath, body);
}
