#include "update/VerifiedResponse.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "Sha1.h"
#include "Utf8.h"
#include "uDebugUtils.h"
#include "update/DownloadError.h"

namespace {

[[noreturn]] void Refuse(const std::wstring& path, const std::wstring& logText, const std::wstring& reason) {
  LogMessage(L"Update", L"Download refused: " + path + L": " + logText);
  throw EBodyCheckError(L"Ошибка загрузки файла " + path + L": " + reason);
}

std::optional<int64_t> ParseNumber(const std::wstring& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

// "bytes <first>-<last>/<total>": first and total.
bool ParseContentRange(const std::wstring& text, int64_t& first, std::optional<int64_t>& total) {
  if (text.rfind(L"bytes ", 0) != 0) return false;
  const size_t dash = text.find(L'-', 6);
  const size_t slash = text.find(L'/', 6);
  if (dash == std::wstring::npos || slash == std::wstring::npos || dash > slash) return false;
  const auto start = ParseNumber(text.substr(6, dash - 6));
  if (!start) return false;
  first = *start;
  total = ParseNumber(text.substr(slash + 1));
  return true;
}

}  // namespace

void CheckReceivedBody(const std::wstring& path, const TReceivedBody& body) {
  const std::wstring received = std::to_wstring(body.Received);
  const std::optional<int64_t> whole = body.Announced ? body.Announced
                                       : body.Expected ? std::optional<int64_t>(body.Expected->Size)
                                                       : std::nullopt;
  if (whole && body.Received < *whole) {
    const std::wstring length = std::to_wstring(*whole);
    LogMessage(L"Update", L"Download cut short: " + path + L": received " + received + L" of " + length + L" bytes");
    throw EBodyCutError(L"Ошибка загрузки файла " + path + L": получено " + received + L" байт из " + length + L".");
  }
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
                                                 std::optional<TBlobId> expected, int64_t resumeFrom)
    : THTTPStreamResponse(outStream, ownStream, std::move(isTerminated), true),
      FExpected(std::move(expected)),
      FResumeFrom(resumeFrom) {
  // Started again once the headers are in; this covers bodies fed without them.
  if (FExpected) StartHash(FExpected->Size);
}

TVerifiedStreamResponse::~TVerifiedStreamResponse() = default;

void TVerifiedStreamResponse::StartHash(int64_t size) {
  FHash = std::make_unique<TSha1>();
  const std::string header = "blob " + std::to_string(size);
  FHash->Update(header.c_str(), header.size() + 1);
}

bool TVerifiedStreamResponse::ContinueHeldBytes(HINTERNET request) {
  int64_t first = 0;
  std::optional<int64_t> total;
  if (!ParseContentRange(GetHeader(request, WINHTTP_QUERY_CONTENT_RANGE), first, total) || first != FResumeFrom) {
    return false;
  }
  FAnnounced = total;
  return true;
}

bool TVerifiedStreamResponse::ProcessHeaders(HINTERNET request) {
  THTTPStreamResponse::ProcessHeaders(request);
  const int32_t status = HTTPStatus();
  TStream& out = *OutStream();
  if (status == 206 && FResumeFrom > 0) {
    if (!ContinueHeldBytes(request)) {
      Refuse(FPath, L"a partial reply that does not continue at byte " + std::to_wstring(FResumeFrom),
             L"сервер прислал не ту часть файла.");
    }
  } else if (status == 200) {
    // The whole file again: what was held goes.
    if (FResumeFrom > 0) {
      out.SetSize(0);
      out.SetPosition(0);
      FResumeFrom = 0;
    }
    const auto length = ParseNumber(GetHeader(request, WINHTTP_QUERY_CONTENT_LENGTH));
    if (length) FAnnounced = *length;
  } else {
    return false;
  }
  if (FExpected && FAnnounced && *FAnnounced != FExpected->Size) {
    Refuse(FPath, L"the reply announces " + std::to_wstring(*FAnnounced) + L" bytes, the repository's file has " +
                      std::to_wstring(FExpected->Size),
           L"сервер объявил " + std::to_wstring(*FAnnounced) + L" байт вместо " + std::to_wstring(FExpected->Size) +
               L".");
  }
  if (FLargest >= 0 && FAnnounced && *FAnnounced > FLargest) {
    Refuse(FPath, L"the reply announces " + std::to_wstring(*FAnnounced) + L" bytes, more than " +
                      std::to_wstring(FLargest) + L" allowed",
           L"файл больше, чем может быть (" + std::to_wstring(*FAnnounced) + L" байт).");
  }
  std::optional<int64_t> size;
  if (FExpected) size = FExpected->Size;
  else if (FHashWithoutBlob) size = FAnnounced;
  if (size) StartHash(*size);
  if (FResumeFrom > 0) {
    // The held bytes count towards the hash; they are read once, here.
    out.SetPosition(0);
    std::vector<uint8_t> buffer(64 * 1024);
    for (int64_t left = FResumeFrom; left > 0 && FHash;) {
      const auto chunk = static_cast<int32_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
      out.ReadBuffer(buffer.data(), chunk);
      FHash->Update(buffer.data(), static_cast<size_t>(chunk));
      left -= chunk;
    }
    out.SetSize(FResumeFrom);
    out.SetPosition(FResumeFrom);
  }
  return true;
}

int64_t TVerifiedStreamResponse::Limit() const {
  int64_t limit = FExpected ? FExpected->Size : FAnnounced.value_or(-1);
  if (FLargest >= 0 && (limit < 0 || limit > FLargest)) limit = FLargest;
  return limit;
}

void TVerifiedStreamResponse::ReceiveData(const void* buffer, uint32_t count) {
  const int64_t limit = Limit();
  const int64_t total = FResumeFrom + DataSize() + count;
  if (limit >= 0 && total > limit) {
    Refuse(FPath, L"received more than " + std::to_wstring(limit) + L" bytes",
           L"получено больше " + std::to_wstring(limit) + L" байт.");
  }
  if (FHash) FHash->Update(buffer, count);
  THTTPStreamResponse::ReceiveData(buffer, count);
}

void TVerifiedStreamResponse::Verify(const std::wstring& repositoryPath) {
  TReceivedBody body;
  body.Announced = FAnnounced;
  body.Received = FResumeFrom + DataSize();
  body.Expected = FExpected;
  std::string sha;
  if (FHash) sha = FHash->FinishHex();
  FHash.reset();
  if (FExpected) body.ReceivedSha = sha;
  CheckReceivedBody(repositoryPath, body);
  if (!sha.empty()) FProven = TBlobId{sha, body.Received};
}
