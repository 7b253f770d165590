#pragma once
// The asynchronous exchanges of one owner (an update run, the start-up check).
//
// Each exchange reports exactly once, on the main thread: `done` gets null
// when the reply arrived and `arrived` accepted it, otherwise the failure (the
// exchange's own, one raised by `arrived`, or EAbort when it was closed before
// a reply). `arrived` runs on a WinHTTP worker thread: it may move bytes and
// read the response, never touch the owner; what it needs it keeps alive
// itself. Closing an exchange reports it at once; the exchange itself lets go
// of what it holds (its response and files) when WinHTTP frees it, which may
// be later: Windows does it at once, Wine only when the pending receive times
// out. The owner hears of that too (`freed`, main thread), so that it ends
// only when nothing of it is still writing; the program waits for every set's
// exchanges before it exits (WaitForAllFreed).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "Exceptions.h"

class THTTPAsyncContext;
class THTTPClient;
class THTTPResponse;
struct TRepositoryRequestTarget;

class TExchangeSet {
 public:
  using TArrived = std::function<void(THTTPAsyncContext& context)>;
  using TDone = std::function<void(std::shared_ptr<Exception> failure)>;

  // client: asynchronous; may be null (every Send then raises). freed, when
  // given, runs on the main thread when an exchange that had reported has
  // been freed (one freed before its report reports then instead).
  explicit TExchangeSet(std::shared_ptr<THTTPClient> client, std::function<void()> freed = nullptr);
  ~TExchangeSet();
  TExchangeSet(const TExchangeSet&) = delete;
  TExchangeSet& operator=(const TExchangeSet&) = delete;

  // A GET of target with its one extra header. Raises when the request cannot
  // be sent; done then never runs.
  void Send(const TRepositoryRequestTarget& target, std::unique_ptr<THTTPResponse> response, TArrived arrived,
            TDone done);
  // Closes every open exchange; each reports EAbort, unless its own report
  // comes first.
  void AbortAll();
  // Exchanges whose done has not run yet.
  size_t Open() const;
  // Exchanges not freed yet, reported or not: what they write into is still in use.
  size_t Alive() const { return FOpen.size(); }

  // Waits until every exchange of every set has been freed; false after timeoutMs.
  static bool WaitForAllFreed(uint32_t timeoutMs);

 private:
  struct TShared;
  struct TLife;
  struct TEntry {
    TDone Done;  // null once reported
    std::weak_ptr<THTTPAsyncContext> Context;
  };
  void Report(uint64_t id, std::shared_ptr<Exception> failure);
  void Freed(uint64_t id);

  std::shared_ptr<THTTPClient> FClient;
  std::function<void()> FFreed;
  std::shared_ptr<TShared> FShared;
  // Main thread only; an entry stays until its exchange is freed.
  std::map<uint64_t, TEntry> FOpen;
  uint64_t FNextId = 0;
};
