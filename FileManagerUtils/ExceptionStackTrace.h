#pragma once
// Operating-system exceptions (access violations and the like) end the
// program. C++ exceptions capture their stack when constructed (Exceptions.h);
// a fault raised by the processor in the program's own code (or the C runtime
// it calls) is written to the process log as EAccessViolation or
// EExternalException, with its stack walked from the faulting instruction,
// and the process ends at once with the fault's code. Carrying on would run
// with whatever state the faulting code left half changed, and jumping back
// to a guard would skip the destructors of every frame in between.
//
// How: a vectored exception handler, installed when the program starts, sees
// the fault first. Faults in other modules (system DLLs probing memory under
// their own handlers) are left alone.
#include <functional>
#include <memory>

#include "Exceptions.h"

// Installs the handler once for the process; later calls do nothing. Program
// start-up installs it.
void InstallExceptionStackTrace();

// Boundary helpers for callbacks no exception may leave: run body and return
// what escaped it (null when nothing did).
std::shared_ptr<Exception> CallAtBoundary(const std::function<void()>& body) noexcept;
// The same, writing whatever escaped (except EAbort) to the process log.
// Returns false when something escaped.
bool CallAndLogAtBoundary(const std::function<void()>& body) noexcept;
