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

// Collects one client's message, however many writes it arrives in, without
// ever holding more than the limit: a longer message is only counted.
class TPipeMessageBuffer {
 public:
  void Append(const char* data, size_t size);
  bool Oversized() const { return FOversized; }
  // The whole message, or empty when it was oversized.
  const std::string& Bytes() const { return FBytes; }
  TPipeRequest Request() const;

 private:
  std::string FBytes;
  bool FOversized = false;
};

// Why a connect text is refused, or nullptr when it may be passed on: quotes
// and control characters could break out of the game's command line.
const wchar_t* ConnectTextFault(const std::wstring& text);

