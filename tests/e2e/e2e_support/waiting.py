"""Waiting for a condition by polling, never by a blind sleep."""
import time

# Wine on a busy two-core machine can be slow; scenarios wait this long by default.
DEFAULT_TIMEOUT = 45.0


def wait_for(condition, timeout=DEFAULT_TIMEOUT, interval=0.2, what=None):
    """Calls condition() until it returns a truthy value and returns that value.

    On time-out raises AssertionError naming `what` (or the condition) and the
    last value seen, so a failing scenario says what it was waiting for.
    """
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = condition()
        if last:
            return last
        if time.monotonic() >= deadline:
            name = what or getattr(condition, "__name__", "condition")
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {name}; last value: {last!r}")
        time.sleep(interval)
