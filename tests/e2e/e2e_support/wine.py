"""The build's Wine: running programs in its prefix, paths between Linux and Windows.

The prefix is shared by the whole test run. tools/test.sh creates and starts it
(tools/wine-session.sh); when pytest runs alone, `ensure_ready` does the same
set-up: a display (an own Xvfb when DISPLAY is unset), the prefix created once
with a real Documents folder, and its background services started.
"""
import getpass
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath


class WineSession:
    def __init__(self, build_dir):
        self.build_dir = Path(build_dir).resolve()
        self.wine_run = self.build_dir / "wine-run"
        if not self.wine_run.exists():
            raise RuntimeError(f"{self.wine_run} is missing: configure the build folder {self.build_dir} first")
        self.prefix = Path(os.environ.get("WINEPREFIX") or self.build_dir / "wineprefix")
        self.drive_c = self.prefix / "drive_c"
        self._xvfb = None
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(self.prefix), WINEDEBUG=os.environ.get("WINEDEBUG", "-all"),
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    # -- set-up ------------------------------------------------------------
    def ensure_ready(self):
        if not self.env.get("DISPLAY"):
            self._start_xvfb()
        marker = self.prefix / ".launcher-ready"
        if not marker.exists():
            self.prefix.mkdir(parents=True, exist_ok=True)
            self.run(["wineboot", "-i"], timeout=600, check=False)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=600, check=False)
            docs = self.documents_dir()
            if docs.is_symlink():
                docs.unlink()
            docs.mkdir(parents=True, exist_ok=True)
            marker.touch()
        # Start the prefix's services detached from pytest's output, as the test command does.
        self.run(["wineboot"], timeout=300, check=False)
        return self

    def _start_xvfb(self):
        for number in range(90, 121):
            if not Path(f"/tmp/.X11-unix/X{number}").exists() and not Path(f"/tmp/.X{number}-lock").exists():
                break
        else:
            raise RuntimeError("no free X display number")
        self._xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = f":{number}"
        deadline = time.monotonic() + 10
        while not Path(f"/tmp/.X11-unix/X{number}").exists() and time.monotonic() < deadline:
            time.sleep(0.05)

    def close(self):
        if self._xvfb is not None:
            self._xvfb.terminate()
            self._xvfb.wait(timeout=10)
            self._xvfb = None

    # -- running -----------------------------------------------------------
    def run(self, args, timeout=120, check=True, env=None, cwd=None):
        """Runs a Windows program to its end; returns the CompletedProcess (text output).

        The output goes through files, not pipes: a Wine service that the program
        happens to start (explorer, for example) inherits its handles and would
        keep a pipe open long after the program has ended.
        """
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.run([str(self.wine_run), *map(str, args)], env=self._env(env), cwd=cwd,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            process.stdout = out.read().decode("utf-8", "replace")
            process.stderr = err.read().decode("utf-8", "replace")
        if check and process.returncode != 0:
            raise RuntimeError(f"{args[0]} failed ({process.returncode}): {process.stdout}{process.stderr}")
        return process

    def start(self, args, env=None, cwd=None, output=None, stdin=subprocess.DEVNULL):
        """Starts a Windows program and returns its Popen; its output goes to the file `output`
        (stdin=subprocess.PIPE gives the test a pipe to close as the program's end of input)."""
        sink = open(output, "ab") if output else subprocess.DEVNULL
        try:
            return subprocess.Popen([str(self.wine_run), *map(str, args)], env=self._env(env), cwd=cwd,
                                    stdin=stdin, stdout=sink, stderr=subprocess.STDOUT)
        finally:
            if output:
                sink.close()

    def _env(self, extra):
        env = dict(self.env)
        env.update(extra or {})
        return env

    # -- paths -------------------------------------------------------------
    def windows_path(self, path):
        """The Windows name of a Linux path: C:\\... inside the prefix's drive, Z:\\... elsewhere."""
        path = Path(path).resolve()
        try:
            rest = path.relative_to(self.drive_c.resolve())
            return str(PureWindowsPath("C:\\", *rest.parts))
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def linux_path(self, windows_path):
        path = PureWindowsPath(windows_path)
        drive = path.drive.upper()
        if drive == "C:":
            return self.drive_c.joinpath(*path.parts[1:])
        if drive == "Z:":
            return Path("/", *path.parts[1:])
        raise ValueError(f"no Linux name for {windows_path}")

    def documents_dir(self):
        return self.drive_c / "users" / getpass.getuser() / "Documents"

    def launcher_log_path(self):
        return self.documents_dir() / "Veldra" / "launcher.log"


def copy_program(source, target):
    shutil.copy2(source, target)
    return Path(target)
