#pragma once
// A download that proves itself before it is used: the body written must be
// as long as the server announced (Content-Length), and where the repository
// gave the file's blob, as long as that blob and with its Git hash. A body
// that runs past its expected size, or a reply that announces another size
// than the repository's, stops at once.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HttpResponse.h"
#include "update/ExpectedBlobs.h"

class TSha1;

// What is known of a finished body.
struct TReceivedBody {
  std::optional<int64_t> Announced;  // the whole file's length, when the reply said it
  int64_t Received = 0;              // the whole file's bytes, a resumed start included
  std::optional<TBlobId> Expected;   // the repository's blob
  std::string ReceivedSha;           // Git blob hash of the body, when Expected is set
};

// Raises EBodyCheckError naming the file when the body is short, long or not
// the expected blob; logs what was expected and what came.
void CheckReceivedBody(const std::wstring& repositoryPath, const TReceivedBody& body);

class TVerifiedStreamResponse : public THTTPStreamResponse {
 public:
  // Writes only a 200 reply, like every download of the run; with resumeFrom
  // (the bytes outStream already holds, asked for with a Range request) also
  // a 206 that continues there. A 200 then starts the stream over.
  TVerifiedStreamResponse(TStream* outStream, bool ownStream, TSilentTerminator isTerminated,
                          std::optional<TBlobId> expected, int64_t resumeFrom = 0);
  ~TVerifiedStreamResponse() override;

  bool ProcessHeaders(HINTERNET request) override;
  void ReceiveData(const void* buffer, uint32_t count) override;
  // After the exchange ended: raises when the body must not be used. Names
  // the path in messages.
  void Verify(const std::wstring& repositoryPath);
  // After Verify: the proven file's blob, when the body could be hashed (the
  // repository's blob, or the announced length's).
  const std::optional<TBlobId>& Proven() const { return FProven; }
  // Bytes the file held before this reply's body.
  int64_t ResumedFrom() const { return FResumeFrom; }
  // For messages before Verify knows the path.
  void SetRepositoryPath(std::wstring path) { FPath = std::move(path); }
  // Hashes a body the repository gave no blob for too (by its announced
  // length), so that Proven names it.
  void SetHashWithoutBlob(bool value) { FHashWithoutBlob = value; }
  // No body longer than this is taken, whatever the reply announces.
  void SetLargest(int64_t bytes) { FLargest = bytes; }

 private:
  // A 206 continues the held bytes; false when it does not fit them.
  bool ContinueHeldBytes(HINTERNET request);
  void StartHash(int64_t size);
  int64_t Limit() const;

  std::optional<TBlobId> FExpected;
  std::optional<int64_t> FAnnounced;
  int64_t FResumeFrom = 0;
  std::wstring FPath;
  bool FHashWithoutBlob = false;
  int64_t FLargest = -1;
  // Hashes the body as it passes, so the file is not read a second time.
  std::unique_ptr<TSha1> FHash;
  std::optional<TBlobId> FProven;
};
