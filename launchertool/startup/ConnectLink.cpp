#include "ConnectLink.h"

#include <windows.h>

#include "CommandLine.h"

std::wstring ConnectTextFromLink(const std::wstring& link) {
  const std::wstring prefix = kConnectLinkPrefix;
  if (link.size() < prefix.size()) return {};
  if (AsciiUpper(link.substr(0, prefix.size())) != AsciiUpper(prefix)) return {};
  return link.substr(prefix.size());
}

std::string BuildPipeRequest(const std::wstring& connectText) {
  if (connectText.empty()) return kActivateRequest;
  return kConnectRequestPrefix + ToUtf8(connectText);
}

TPipeRequest ParsePipeRequest(const std::string& bytes) {
  TPipeRequest request;
  if (bytes.size() > kPipeMessageLimit) return request;
  if (bytes == kActivateRequest) {
    request.Kind = TPipeRequestKind::Activate;
  } else if (bytes.rfind(kConnectRequestPrefix, 0) == 0) {
    request.Kind = TPipeRequestKind::Connect;
    request.Text = FromUtf8(bytes);
  }
  return request;
}

void TPipeMessageBuffer::Append(const char* data, size_t size) {
  if (FOversized) return;
  if (size > kPipeMessageLimit - FBytes.size()) {
    FOversized = true;
    std::string().swap(FBytes);
    return;
  }
  FBytes.append(data, size);
}

TPipeRequest TPipeMessageBuffer::Request() const {
  if (FOversized) return {};
  return ParsePipeRequest(FBytes);
}

const wchar_t* ConnectTextFault(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c == L'"') return L"a double quote";
    if (c < 0x20 || c == 0x7F) return L"a control character";
  }
  return nullptr;
}
