#include "HttpRequest.h"

#include <algorithm>
#include <cstring>

int32_t THTTPRequest::GetNextDataChunk(void*, int32_t) { return 0; }

void THTTPRequest::AddHeader(const std::wstring& header) {
  size_t colon = header.find(L':');
  // A line without a colon has no name to match; it is simply added.
  if (colon != std::wstring::npos) {
    size_t prefix = colon + 1;
    for (int32_t i = 0; i < FHeaders.Count(); ++i) {
      if (FHeaders[i].compare(0, prefix, header, 0, prefix) == 0 && FHeaders[i].size() >= prefix) {
        FHeaders[i] = header;
        return;
      }
    }
  }
  FHeaders.Add(header);
}

std::wstring THTTPRequest::GetHeaders() const {
  std::wstring result;
  for (int32_t i = 0; i < FHeaders.Count(); ++i) {
    if (i > 0) result += L"\r\n";
    result += FHeaders[i];
  }
  return result;
}

THTTPPostRequestConstBuffer::THTTPPostRequestConstBuffer(std::vector<uint8_t> buffer) : FBuffer(std::move(buffer)) {
  AddHeader(L"Content-Length: " + std::to_wstring(FBuffer.size()));
}

THTTPPostRequestConstBuffer::THTTPPostRequestConstBuffer(const void* buffer, int32_t length)
    : THTTPPostRequestConstBuffer(std::vector<uint8_t>(static_cast<const uint8_t*>(buffer),
                                                       static_cast<const uint8_t*>(buffer) + std::max(length, 0))) {}

int32_t THTTPPostRequestConstBuffer::GetNextDataChunk(void* data, int32_t length) {
  int64_t left = static_cast<int64_t>(FBuffer.size()) - FOffset;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(std::max(length, 0), left));
  if (n > 0) std::memcpy(data, FBuffer.data() + FOffset, static_cast<size_t>(n));
  FOffset += n;
  return n;
}
