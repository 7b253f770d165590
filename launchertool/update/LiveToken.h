#pragma once
// Whether an update run still wants its work done, readable on any thread.
// Putting a file in place is checked and done under the same lock that
// Cancel takes, so once Cancel has returned no file of the run moves any more.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "install/OwnedFiles.h"

class TLiveToken {
 public:
  bool Cancelled() const { return FCancelled.load(); }
  // Waits for a move under way; every later one is refused.
  void Cancel() {
    std::lock_guard<std::mutex> lock(FLock);
    FCancelled.store(true);
  }
  // An attempt guard for ReplaceOwnedFile: each attempt runs only while the
  // token is live, and fails with ERROR_CANCELLED after Cancel.
  static TAttemptGuard Guard(std::shared_ptr<TLiveToken> token) {
    return [token = std::move(token)](const std::function<BOOL()>& attempt) -> BOOL {
      std::lock_guard<std::mutex> lock(token->FLock);
      if (token->FCancelled.load()) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
      }
      return attempt();
    };
  }

 private:
  std::mutex FLock;
  std::atomic<bool> FCancelled{false};
};
