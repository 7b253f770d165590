#pragma once
// Hands work from any thread to the main thread: Queue (non-blocking, first in
// first out) or Synchronize (run there and wait). Queued calls run from the
// main thread's message loop through a message-only window.
#include <functional>

#include "Exceptions.h"

namespace MainThread {

using TQueuedCall = std::function<void()>;
// Receives exceptions that escape a queued call on the main thread (the
// window's last-chance handler); without one they are written to the log.
using TExceptionHandler = std::function<void(const Exception&)>;

// Call once on the main thread before any other thread queues work.
void Initialize();
// Drops pending calls and every later one; Synchronize then returns false.
void Finalize();
bool IsMainThread();

void Queue(TQueuedCall call);
// Runs the call on the main thread after about delayMs (main thread only).
void QueueAfter(unsigned delayMs, TQueuedCall call);
// Runs the call on the main thread and waits for it; an exception it raises
// is raised again in the caller. Called on the main thread it runs inline.
// Returns false when the queue is finalized and the call was dropped.
bool Synchronize(const TQueuedCall& call);

void SetExceptionHandler(TExceptionHandler handler);

// Runs the calls queued so far (main thread only); returns how many ran.
int ProcessPending();
// Pumps messages on the main thread until pred() is true or timeoutMs passes.
bool PumpUntil(const std::function<bool()>& pred, unsigned timeoutMs);

}  // namespace MainThread
