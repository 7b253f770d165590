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

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), size);
  return out;
}
