#pragma once
// What an exchange sends: the verb, the header lines and the body, produced in
// chunks on demand.
#include <cstdint>
#include <string>
#include <vector>

#include "ListRecord.h"

class THTTPRequest {
 public:
  THTTPRequest(const THTTPRequest&) = delete;
  THTTPRequest& operator=(const THTTPRequest&) = delete;
  virtual ~THTTPRequest() = default;

  // Copies at most length body bytes to data and returns how many.
  virtual int32_t GetNextDataChunk(void* data, int32_t length);
  virtual bool HaveDataToSend() = 0;

  // Adds a header line ("Name: value"), or replaces the first line that starts
  // with the same name and colon (case-sensitive).
  void AddHeader(const std::wstring& header);
  // The lines joined with CR LF, none after the last.
  std::wstring GetHeaders() const;
  const TListRecord<std::wstring>& Headers() const { return FHeaders; }

  bool KeepAlive() const { return FKeepAlive; }
  void SetKeepAlive(bool value) { FKeepAlive = value; }
  bool UseSSL() const { return FUseSSL; }
  void SetUseSSL(bool value) { FUseSSL = value; }
  // The total body length announced to WinHTTP when the request is sent.
  int32_t TotalDataLength() const { return FTotalDataLength; }
  void SetTotalDataLength(int32_t value) { FTotalDataLength = value; }
  const std::wstring& Method() const { return FMethod; }

 protected:
  explicit THTTPRequest(std::wstring method) : FMethod(std::move(method)) {}

 private:
  bool FKeepAlive = false;
  bool FUseSSL = false;
  TListRecord<std::wstring> FHeaders;
  int32_t FTotalDataLength = 0;
  std::wstring FMethod;
};

class THTTPGetRequest : public THTTPRequest {
 public:
  THTTPGetRequest() : THTTPRequest(L"GET") {}
  bool HaveDataToSend() override { return false; }
};

class THTTPPostRequest : public THTTPRequest {
 public:
  THTTPPostRequest() : THTTPRequest(L"POST") {}
};

// A POST whose body is a byte array given up front; it carries its own
// Content-Length line.
class THTTPPostRequestConstBuffer : public THTTPPostRequest {
 public:
  explicit THTTPPostRequestConstBuffer(std::vector<uint8_t> buffer);
  THTTPPostRequestConstBuffer(const void* buffer, int32_t length);
  int32_t GetNextDataChunk(void* data, int32_t length) override;
  bool HaveDataToSend() override { return FOffset < static_cast<int64_t>(FBuffer.size()); }

 private:
  std::vector<uint8_t> FBuffer;
  int32_t FOffset = 0;
};
