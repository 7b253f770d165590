#include "Pipes.h"

#include <sddl.h>

#include <vector>

bool CurrentSessionAndSid(DWORD& session, std::wstring& sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  bool ok = GetTokenInformation(token, TokenSessionId, &session, sizeof(session), &size) != 0;
  std::vector<unsigned char> user(256);
  if (ok) ok = GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) != 0;
  CloseHandle(token);
  wchar_t* text = nullptr;
  if (!ok || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) return false;
  sid = text;
  LocalFree(text);
  return true;
}

HANDLE CreateHeldPipe(const std::wstring& name) {
  return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 512,
                          512, 0, nullptr);
}

void WaitForInputEnd() {
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
  }
}

DWORD ProbePipe(const std::wstring& name) {
  return WaitNamedPipeW(name.c_str(), 2000) ? ERROR_SUCCESS : GetLastError();
}
