"""Another program that holds something (a pipe, a file) for a test: the UI driver in a holding mode."""
import json
import subprocess
from contextlib import contextmanager

from e2e_support.waiting import wait_for


@contextmanager
def driver_holding(harness, command, what):
    """Runs `uidriver <command...>`, waits for its {"ok": true} reply and yields the process; the hold
    ends (its input is closed) when the block ends."""
    out = harness.build_dir / "e2e-work" / f"{command[0]}.out"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.unlink(missing_ok=True)
    holder = harness.wine.start([harness.driver_exe, *command], output=out, stdin=subprocess.PIPE)
    try:
        def replied():
            text = out.read_text(errors="replace").strip() if out.exists() else ""
            return json.loads(text.splitlines()[-1]) if text else None
        reply = wait_for(replied, what=f"{what} to be held")
        assert reply.get("ok") and holder.poll() is None, reply
        yield holder
    finally:
        holder.stdin.close()
        try:
            holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait(timeout=30)
