#pragma once
// Named pipes and the identity of this process, for the single-instance tests.
#include <windows.h>

#include <string>

// The session and the user's SID (string form) of this process's token.
bool CurrentSessionAndSid(DWORD& session, std::wstring& sid);
// Creates the pipe as another program would hold it (one instance, byte
// mode, both ways); INVALID_HANDLE_VALUE and the last error on failure.
HANDLE CreateHeldPipe(const std::wstring& name);
// Blocks until this process's standard input ends (EOF or an error).
void WaitForInputEnd();
// Whether a pipe of that name exists: ERROR_SUCCESS when an instance listens,
// otherwise the error of the wait (ERROR_FILE_NOT_FOUND when there is none).
DWORD ProbePipe(const std::wstring& name);
