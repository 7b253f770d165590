#pragma once
// The reply handling of the list steps of an update run (change lists and
// the tree walk), apart from the exchange that brought the reply, so that
// each can be driven with a status and a body. Each runs where the step's
// completion handler runs (a WinHTTP worker thread) and starts the next
// request itself.
#include <cstdint>
#include <string>

class TfLauncher;

// The rate-limit headers of a tree reply (0 when absent).
struct TRateLimitReading {
  uint32_t Remaining = 0;
  uint32_t Reset = 0;
};

// A change list: applied, then the commit that follows it is asked for; a
// missing one falls back to the full walk.
void HandleChangesListReply(TfLauncher& launcher, int32_t status, const std::wstring& body);
// The commit after a change list: the next change list, or the downloads
// when it is the head.
void HandleNextCommitReply(TfLauncher& launcher, int32_t status, const std::wstring& body);
// The head commit of a walk that started without one: its root tree is next.
void HandleFullUpdateHeadReply(TfLauncher& launcher, int32_t status, const std::wstring& body);
// One tree listing of the walk (of the root when FCurrentFolder is empty).
void HandleTreeReply(TfLauncher& launcher, int32_t status, const std::wstring& body,
                     const TRateLimitReading& rateLimit);
