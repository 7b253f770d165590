#include "startup/InstanceScope.h"

#include <sddl.h>

#include <vector>

#include "Handles.h"
#include "Exceptions.h"

namespace {

std::wstring TokenUserSid(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) RaiseLastOSError();
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) RaiseLastOSError();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) RaiseLastOSError();
  std::wstring sid(text);
  LocalFree(text);
  return sid;
}

}  // namespace

SECURITY_ATTRIBUTES TInstanceScope::Attributes() const {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = Security.get();
  attributes.bInheritHandle = FALSE;
  return attributes;
}

TInstanceScope InstanceScopeOf(DWORD session, const std::wstring& sid) {
  const std::wstring scope = L"VELDRA.Launcher." + std::to_wstring(session) + L"." + sid;
  TInstanceScope result;
  result.PipeName = L"\\\\.\\pipe\\" + scope;
  result.MutexName = L"Local\\" + scope;
  // An elevated token would otherwise make the objects its administrators'
  // alone, and the same user's next start could not reach them.
  const std::wstring sddl = L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    RaiseLastOSError();
  result.Security.reset(descriptor, &LocalFree);
  return result;
}

TInstanceScope CurrentInstanceScope() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) RaiseLastOSError();
  DWORD session = 0;
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenSessionId, &session, sizeof(session), &size)) RaiseLastOSError();
  return InstanceScopeOf(session, TokenUserSid(token.get()));
}
