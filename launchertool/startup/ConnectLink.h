#pragma once
// Server-join links "vdr://connect/<text>" and the requests a second launcher
// sends to the first one over the pipe.
#include <string>

#include "Utf8.h"

inline constexpr wchar_t kConnectLinkPrefix[] = L"vdr://connect/";
inline constexpr char kActivateRequest[] = "/activate";
inline constexpr char kConnectRequestPrefix[] = "/connect ";
// The reader's buffer; a longer message is not a request.
inline constexpr size_t kPipeMessageLimit = 4096;

// The text after the prefix (letter case kept), or empty when the link does
// not begin with the prefix in some letter case.
std::wstring ConnectTextFromLink(const std::wstring& link);

// UTF-8 request bytes for a connect text ("/activate" when it is empty).
std::string BuildPipeRequest(const std::wstring& connectText);

enum class TPipeRequestKind { None, Activate, Connect };
struct TPipeRequest {
  TPipeRequestKind Kind = TPipeRequestKind::None;
  // For Connect: the whole message decoded, prefix included.
  std::wstring Text;
};
// Recognises one message; prefixes are compared on the bytes, case-sensitively.
TPipeRequest ParsePipeRequest(const std::string& bytes);

