#pragma once
// What an exchange does with the reply: after the headers a response decides
// whether the body is wanted, then takes the body chunk by chunk.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Streams.h"
#include "TextEncoding.h"

class THTTPAsyncContext;

// The abort test of a download: true stops it.
using TSilentTerminator = std::function<bool()>;

// The base response reads the status and discards the body.
class THTTPResponse {
 public:
  THTTPResponse() = default;
  THTTPResponse(const THTTPResponse&) = delete;
  THTTPResponse& operator=(const THTTPResponse&) = delete;
  virtual ~THTTPResponse() = default;

  // One body chunk arrived.
  virtual void ReceiveData(const void* buffer, uint32_t count);
  // The body ended (size: bytes received modulo 2^32) or was skipped (0).
  virtual void FinishLoad(uint32_t size);
  // The headers of request are in; true asks for the body. The base reads the
  // status and wants the body of a 200 reply only.
  virtual bool ProcessHeaders(HINTERNET request);

  // Header readers: they never raise.
  static std::wstring GetHeader(HINTERNET request, DWORD infoLevel);
  static int32_t GetIntegerHeader(HINTERNET request, DWORD infoLevel, int32_t defaultValue);
  // A header of this response's exchange read as a number, 0 when absent or
  // not a number. Valid while the exchange's request handle is open (inside
  // its end-of-load handler).
  uint32_t GetIntegerHeaderByName(const std::wstring& name) const;

  int64_t DataSize() const { return FDataSize; }
  // The status code; -1 when unreadable, 0 before the headers arrived.
  int32_t HTTPStatus() const { return FHTTPStatus; }
  THTTPAsyncContext* Context() const { return FContext; }

 private:
  friend class THTTPAsyncContext;
  THTTPAsyncContext* FContext = nullptr;
  int64_t FDataSize = 0;
  int32_t FHTTPStatus = 0;
};

// A body that trickles is as good as a dead one: fewer than kStallBytes in
// kStallMs raises EHTTPStalled. (No byte at all is the receive timeout's.)
class TStallWatch {
 public:
  static constexpr uint32_t kStallMs = 30000;
  static constexpr uint64_t kStallBytes = 1024;
  void Received(uint32_t count);

 private:
  uint64_t FWindowStart = 0;
  uint64_t FWindowBytes = 0;
};

// Writes the body to a stream (which it may own).
class THTTPCustomStreamResponse : public THTTPResponse {
 public:
  THTTPCustomStreamResponse(TStream* outStream, bool ownStream);
  ~THTTPCustomStreamResponse() override;
  void ReceiveData(const void* buffer, uint32_t count) override;
  TStream* OutStream() const { return FOutStream; }

 private:
  TStream* FOutStream;
  bool FStreamOwner;
  TStallWatch FStallWatch;
};

// Keeps the body in memory and decodes it as text when it ends: by the
// charset of the content type (ISO-8859-1 without one), or, for
// "application/octet-stream", by a byte-order mark (the ANSI code page
// without one). Raises EEncodingError "Invalid encoding name" for a charset
// we do not know.
// A reply longer than kLargestText raises EHTTPReplyTooLarge as soon as it
// announces or passes that size.
class THTTPStringResponse : public THTTPCustomStreamResponse {
 public:
  // Far above the recursive tree of the largest repository we know.
  static constexpr int64_t kLargestText = 64LL * 1024 * 1024;
  THTTPStringResponse();
  bool ProcessHeaders(HINTERNET request) override;
  void ReceiveData(const void* buffer, uint32_t count) override;
  void FinishLoad(uint32_t size) override;
  const std::wstring& Result() const { return FResult; }

 private:
  std::wstring FResult;
  std::optional<TTextEncoding> FEncoding;
};

// Writes the body to a stream; with onlySuccess a non-200 reply writes
// nothing. The abort test runs after each chunk has been written and stops
// the exchange with EAbort.
class THTTPStreamResponse : public THTTPCustomStreamResponse {
 public:
  THTTPStreamResponse(TStream* outStream, bool ownStream, TSilentTerminator isTerminated, bool onlySuccess);
  void ReceiveData(const void* buffer, uint32_t count) override;
  bool ProcessHeaders(HINTERNET request) override;

 private:
  TSilentTerminator FIsTerminated;
  bool FOnlySuccess;
};
