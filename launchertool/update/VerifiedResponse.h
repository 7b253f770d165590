#pragma once
// A download that proves itself before it is used: the body written must be
// as long as the server announced (Content-Length), and where the repository
// gave the file's blob, as long as that blob and with its Git hash.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HttpResponse.h"
#include "update/ExpectedBlobs.h"

class TSha1;

// What is known of a finished body.
struct TReceivedBody {
  std::optional<int64_t> Announced;  // Content-Length, when the reply had one
  int64_t Received = 0;
  std::optional<TBlobId> Expected;  // the repository's blob
  std::string ReceivedSha;          // Git blob hash of the body, when Expected is set
};

// Raises EDownloadError naming the file when the body is short, long or not
// the expected blob; logs what was expected and what came.
void CheckReceivedBody(const std::wstring& repositoryPath, const TReceivedBody& body);

class TVerifiedStreamResponse : public THTTPStreamResponse {
 public:
  // Writes only a 200 reply, like every download of the run.
  TVerifiedStreamResponse(TStream* outStream, bool ownStream, TSilentTerminator isTerminated,
                          std::optional<TBlobId> expected);
  ~TVerifiedStreamResponse() override;

  bool ProcessHeaders(HINTERNET request) override;
  void ReceiveData(const void* buffer, uint32_t count) override;
  // After the exchange ended: raises when the body must not be used.
  void Verify(const std::wstring& repositoryPath);

 private:
  std::optional<TBlobId> FExpected;
  std::optional<int64_t> FAnnounced;
  // Hashes the body as it passes, so the file is not read a second time.
  std::unique_ptr<TSha1> FHash;
};
