#pragma once
// One launcher per user session: the instance lock and the pipe share one
// scope, made of the session and the user's SID. A launcher the same user
// elevated ("runas") has the same session and SID, so it finds the same
// instance; another user's launcher on the same PC has a scope of its own.
#include <windows.h>

#include <memory>
#include <string>

struct TInstanceScope {
  std::wstring PipeName;   // \\.\pipe\... (pipes share one machine-wide namespace)
  std::wstring MutexName;  // Local\... (the session's namespace)
  // Full access for the user (elevated or not) and the system, nothing for
  // anyone else; the objects are created with it.
  std::shared_ptr<void> Security;
  SECURITY_ATTRIBUTES Attributes() const;
};

// The names for a session and a SID in its string form.
TInstanceScope InstanceScopeOf(DWORD session, const std::wstring& sid);
// The scope of this process, from its token; raises EOSError when the token
// cannot be read.
TInstanceScope CurrentInstanceScope();
