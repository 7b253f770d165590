"""Fixtures of the end-to-end tests: they drive the real Launcher.exe under Wine.

Build folder: $LAUNCHER_BUILD_DIR (set by ctest and tools/test.sh), else
build-x64/ of this checkout. The Wine prefix is the build's own and is shared by the
whole run; when pytest runs alone (for example after
`source tools/wine-session.sh; wine_session_begin <build>`), the harness
creates or starts it itself.

Fixtures (see each docstring):
  harness       session: Wine, the UI driver, paths of the programs, control ids
  game_folder   a fresh folder C:\\e2e\\<test> with Launcher.exe in it
  launch        starts Launcher.exe instances; every process a test started is
                ended afterwards, also when the test fails
  launcher_log  the launcher's log file, only what this test added
  sample_repo   session: the sample game repository (tools/samplerepo)
  service       the repository service stand-in (tools/service) over it
  screenshot    saves a window as <build>/e2e-screenshots/NAME.png
Registry keys the launcher writes (HKCU\\SOFTWARE\\VELDRA and
HKCU\\SOFTWARE\\Classes\\vdr) are removed before and after every test that uses
game_folder.
"""
import os
import re
import shutil
import socket
import sys
from pathlib import Path

import pytest

from e2e_support.driver import UiDriver, read_control_ids
from e2e_support.launcher import GameFolder, LauncherProcess
from e2e_support.waiting import DEFAULT_TIMEOUT, wait_for
from e2e_support.wine import WineSession

SOURCE_DIR = Path(os.environ.get("LAUNCHER_SOURCE_DIR") or Path(__file__).resolve().parents[2])
BUILD_DIR = Path(os.environ.get("LAUNCHER_BUILD_DIR") or SOURCE_DIR / "build-x64")
INSTALL_KEY = r"Software\VELDRA"
PROTOCOL_KEY = r"Software\Classes\vdr"
ENDPOINT_VARIABLES = ("VELDRA_API_URL", "VELDRA_RAW_URL", "VELDRA_ANALYTICS_URL")


class Harness:
    """What every scenario needs: Wine, the driver, the programs and the control ids."""

    def __init__(self):
        self.build_dir = BUILD_DIR.resolve()
        self.source_dir = SOURCE_DIR.resolve()
        self.wine = WineSession(self.build_dir).ensure_ready()
        self.launcher_exe = self.build_dir / "Launcher.exe"
        self.game_exe = self.build_dir / "tools" / "VELDRA.exe"
        self.driver_exe = self.build_dir / "tools" / "uidriver.exe"
        for program in (self.launcher_exe, self.game_exe, self.driver_exe):
            if not program.exists():
                raise RuntimeError(f"{program} is missing: build the folder {self.build_dir} first")
        self.driver = UiDriver(self.wine, self.driver_exe)
        self.control_ids = read_control_ids(self.source_dir / "launchertool" / "ControlIds.h")
        self.screenshot_dir = self.build_dir / "e2e-screenshots"
        self.screenshot_dir.mkdir(exist_ok=True)
        # Game folders live on the prefix's drive C, as a real installation would.
        self.work_root = self.wine.drive_c / "e2e"
        self.end_processes_under(self.wine.windows_path(self.work_root))
        shutil.rmtree(self.work_root, ignore_errors=True)
        self.work_root.mkdir(parents=True)

    def end_processes_under(self, windows_folder):
        """Ends every process whose program lies in the folder: only what the tests started."""
        self.driver.kill_under(windows_folder)

    def clean_registry(self):
        self.driver.delete_registry(INSTALL_KEY, PROTOCOL_KEY)

    def dead_endpoint(self):
        """http://127.0.0.1:<port> where nothing listens: requests fail at once, nothing leaves the machine."""
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            return f"http://127.0.0.1:{s.getsockname()[1]}"


@pytest.fixture(scope="session")
def harness():
    """The session's Harness (see the class)."""
    h = Harness()
    yield h
    h.end_processes_under(h.wine.windows_path(h.work_root))
    h.clean_registry()
    h.wine.close()


def _folder_name(request):
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name)[:80]


@pytest.fixture
def game_folder(harness, request):
    """A fresh GameFolder C:\\e2e\\<test name> holding Launcher.exe (add the game with
    add_game(), `.last` with write_last()); the launcher's registry keys are removed
    before and after the test."""
    path = harness.work_root / _folder_name(request)
    shutil.rmtree(path, ignore_errors=True)
    harness.clean_registry()
    folder = GameFolder(harness, path).add_launcher()
    yield folder
    harness.end_processes_under(folder.windows)
    harness.clean_registry()


@pytest.fixture
def launch(harness, game_folder):
    """launch(*args, folder=game_folder, endpoint=None, env=None, window=True) starts
    Launcher.exe from the folder with the arguments and returns a LauncherProcess.

    endpoint: base URL for the repository API, raw files and analytics (default: a
    local port where nothing listens, so nothing leaves the machine). window=True
    waits until the launcher window is shown. Every launcher started here, and
    every program in the game folder, is ended after the test."""
    started = []

    def start(*args, folder=None, endpoint=None, env=None, window=True):
        folder = folder or game_folder
        exe = folder.windows + "\\Launcher.exe"
        url = endpoint or harness.dead_endpoint()
        environment = {name: url for name in ENDPOINT_VARIABLES}
        environment.update(env or {})
        popen = harness.wine.start([exe, *args], env=environment, cwd=folder.path,
                                   output=folder.path.parent / f"{folder.path.name}.out")
        process = LauncherProcess(harness, folder, popen, exe)
        started.append(process)
        if window:
            process.find_window()
        return process

    yield start
    for process in started:
        process.end()
    # Programs started from other folders (game_folder ends its own afterwards).
    for windows_folder in {p.folder.windows for p in started} - {game_folder.windows}:
        harness.end_processes_under(windows_folder)


class LauncherLog:
    """The launcher's log (Documents\\Veldra\\launcher.log in the prefix), from the test's start on."""

    def __init__(self, path):
        self.path = path
        self.start = path.stat().st_size if path.exists() else 0

    def text(self):
        if not self.path.exists():
            return ""
        data = self.path.read_bytes()
        if len(data) < self.start:  # trimmed at a launcher start: all of it is new
            self.start = 0
        return data[self.start:].decode("cp1252", "replace")

    def wait_for(self, needle, timeout=DEFAULT_TIMEOUT):
        return wait_for(lambda: needle in self.text(), timeout, what=f"{needle!r} in the launcher log")


@pytest.fixture
def launcher_log(harness):
    """A LauncherLog: text() holds what the launcher logged during this test."""
    return LauncherLog(harness.wine.launcher_log_path())


@pytest.fixture(scope="session")
def sample_repo(harness):
    """The sample game repository (main and qa) with this build's Launcher.exe and the
    game stand-in committed; returns {"path", "main": [commits], "qa": [commits]}."""
    sys.path.insert(0, str(harness.source_dir / "tools" / "samplerepo"))
    import generate  # noqa: E402
    out = harness.build_dir / "e2e-work" / "sample-repo"
    return generate.generate(out, harness.launcher_exe.read_bytes(), harness.game_exe.read_bytes())


@pytest.fixture
def service(sample_repo, harness, request):
    """The repository service stand-in over sample_repo, started for this test; pass
    service.url as launch(endpoint=...). service.requests(prefix) lists what it got."""
    sys.path.insert(0, str(harness.source_dir / "tools" / "service"))
    from repository_service import RepositoryService  # noqa: E402
    record = harness.build_dir / "e2e-work" / f"requests-{_folder_name(request)}.jsonl"
    record.unlink(missing_ok=True)
    server = RepositoryService(sample_repo["path"], record_file=record).start()
    yield server
    server.stop()


@pytest.fixture
def screenshot(harness):
    """screenshot(hwnd, name) saves the window as <build>/e2e-screenshots/NAME.png."""
    def take(hwnd, name):
        return harness.driver.screenshot(hwnd, harness.screenshot_dir / f"{name}.png")
    return take


@pytest.fixture
def stall_service():
    """stall_service({branch: commit}) starts a StallService: it answers the head-commit
    request with that commit and holds every other request open (an update run stays
    busy); pass its url as launch(endpoint=...)."""
    from e2e_support.stall_service import StallService
    started = []

    def start(heads):
        server = StallService(heads).start()
        started.append(server)
        return server

    yield start
    for server in started:
        server.stop()
