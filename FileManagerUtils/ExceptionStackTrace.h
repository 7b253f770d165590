#pragma once
// Operating-system exceptions (access violations and the like) as Exception
// objects. C++ exceptions capture their stack when constructed (Exceptions.h);
// a fault raised by the processor is caught only inside a guarded call, which
// raises it again as EAccessViolation or EExternalException whose stack text
// starts at the faulting instruction.
//
// How: a vectored exception handler sees the fault first. When the faulting
// thread is inside RunGuarded and the fault lies in the program's own code (or
// the C runtime it calls), the handler records the fault and the stack walked
// from the fault's context, then resumes the thread in a small function that
// jumps back to the RunGuarded frame (__builtin_setjmp / __builtin_longjmp, no
// unwinding); RunGuarded then throws an ordinary C++ exception. This works the
// same with the i686 DWARF-2 unwinder and the x86_64 SEH unwinder because no
// unwinder ever runs through the faulting frames. The price: the frames between
// the guard and the fault are abandoned without running their destructors, so
// a fault leaks what those frames owned. Faults in other modules (system DLLs
// probing memory under their own handlers) are left alone.
#include <functional>
#include <memory>

#include "Exceptions.h"

// Installs the handler once for the process; later calls do nothing.
// RunGuarded installs it on first use.
void InstallExceptionStackTrace();

// Runs body. A processor fault inside it is raised from here as
// EAccessViolation (access violations) or EExternalException (others), with
// the fault address first in its stack. C++ exceptions pass through unchanged.
// Guards nest; the innermost one takes the fault.
void RunGuarded(const std::function<void()>& body);

// Boundary helpers for callbacks no exception may leave: run body guarded and
// return what escaped it (null when nothing did).
std::shared_ptr<Exception> CallAtBoundary(const std::function<void()>& body) noexcept;
// The same, writing whatever escaped (except EAbort) to the process log.
// Returns false when something escaped.
bool CallAndLogAtBoundary(const std::function<void()>& body) noexcept;
