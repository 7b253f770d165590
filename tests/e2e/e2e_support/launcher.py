"""Launcher.exe runs: a game folder per test, starting instances, reading the window."""
import json
import shutil
from pathlib import Path

from .waiting import DEFAULT_TIMEOUT, wait_for

WINDOW_CAPTION = "VELDRA LAUNCHER"
UPDATE_NOTICE = ("Вышла новая версия в выбранном канале обновлений. Нажмите кнопку \"Обновить\" и не "
                 "закрывайте программу, ожидайте завершения установки обновления.")
# The five controls the UI states switch, and what each state sets:
# True enabled, False disabled; "notice" is the visibility of L_Update.
STATE_CONTROLS = ("BTN_Update", "BTN_Run", "BTN_Exit", "RB_Release", "RB_Test")
UI_STATES = {
    "Checking": dict(BTN_Update=False, BTN_Run=False, BTN_Exit=True, RB_Release=False, RB_Test=False, notice=False),
    "UpdateRequired": dict(BTN_Update=True, BTN_Run=False, BTN_Exit=True, RB_Release=True, RB_Test=True, notice=True),
    "UpdateOptional": dict(BTN_Update=True, BTN_Run=True, BTN_Exit=True, RB_Release=True, RB_Test=True, notice=True),
    "Ready": dict(BTN_Update=False, BTN_Run=True, BTN_Exit=True, RB_Release=True, RB_Test=True, notice=False),
    "Busy": dict(BTN_Update=False, BTN_Run=False, BTN_Exit=False, RB_Release=False, RB_Test=False),
}


class WindowView:
    """One reading of the launcher window: its top-level data and its controls by name."""

    def __init__(self, reply, control_ids):
        self.window = reply["window"]
        by_id = {c["id"]: c for c in reply["controls"]}
        self.controls = {name: by_id[i] for name, i in control_ids.items() if i in by_id}

    def __getitem__(self, name):
        return self.controls[name]

    def enabled(self, name):
        return self.controls[name]["enabled"]

    def shown(self, name):
        """The control's own visibility (also while the whole window is hidden)."""
        return self.controls[name]["own_visible"]

    def text(self, name):
        return self.controls[name]["text"]

    def checked(self, name):
        return self.controls[name]["checked"]

    def state_mismatch(self, state):
        """Empty when the window shows the named UI state, else what differs."""
        differences = []
        for key, expected in UI_STATES[state].items():
            actual = self.shown("L_Update") if key == "notice" else self.enabled(key)
            if actual != expected:
                differences.append(f"{key}: {'shown' if key == 'notice' else 'enabled'}={actual}, expected {expected}")
        if state in ("UpdateRequired", "UpdateOptional") and self.text("L_Update") != UPDATE_NOTICE:
            differences.append(f"L_Update text {self.text('L_Update')!r}")
        return differences

    def summary(self):
        """Compact form for failure messages: name -> enabled, shown, text, checked."""
        return {name: (c["enabled"], c["own_visible"], c["text"], c.get("checked")) for name, c in self.controls.items()}


class GameFolder:
    """A fresh installation folder inside the prefix's drive C, with Launcher.exe in it."""

    def __init__(self, harness, path):
        self.harness = harness
        self.path = Path(path)
        self.path.mkdir(parents=True)
        self.windows = harness.wine.windows_path(self.path)

    def add_launcher(self):
        shutil.copy2(self.harness.launcher_exe, self.path / "Launcher.exe")
        return self

    def add_game(self):
        shutil.copy2(self.harness.game_exe, self.path / "VELDRA.exe")
        return self

    def write_last(self, commit, channel=None):
        """`.last`: UTF-16LE commit hash, TAB, channel (no TAB when channel is None)."""
        text = commit if channel is None else f"{commit}\t{channel}"
        (self.path / ".last").write_bytes(text.encode("utf-16-le"))

    def game_events(self):
        """What the game stand-in recorded (VELDRA.log beside it), one dict per event."""
        log = self.path / "VELDRA.log"
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="ascii").splitlines() if line.strip()]

    def game_starts(self):
        return [e for e in self.game_events() if e["event"] == "start"]

    def game_messages(self):
        return [e for e in self.game_events() if e["event"] == "copydata"]


class LauncherProcess:
    """One started Launcher.exe: its Linux process, its Windows process id and its window."""

    def __init__(self, harness, folder, popen, exe_windows_path):
        self.harness = harness
        self.folder = folder
        self.popen = popen
        self.exe = exe_windows_path
        self.pid = None
        self.hwnd = None

    @property
    def driver(self):
        return self.harness.driver

    def exited(self):
        return self.popen.poll() is not None

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        wait_for(self.exited, timeout, what=f"{self.exe} to end")
        return self.popen.returncode

    def find_window(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the launcher's top-level window (caption VELDRA LAUNCHER) and returns its handle.

        Its visibility is not required: a launcher that starts the game at once may
        already have hidden it again by the time it is found."""
        def window():
            if self.exited():
                raise AssertionError(f"the launcher ended (exit code {self.popen.returncode}) before its window opened")
            for w in self.driver.windows():
                if w["title"] == WINDOW_CAPTION and self._is_ours(w["pid"]):
                    return w
            return None
        found = wait_for(window, timeout, what="the launcher window")
        self.pid, self.hwnd = found["pid"], found["hwnd"]
        # Found by its caption it may still be creating its controls.
        wanted = set(STATE_CONTROLS) | {"L_Update", "L_Version", "ProgressBar"}
        wait_for(lambda: wanted <= set(self.view().controls), timeout, what="the launcher's controls")
        return self.hwnd

    def _is_ours(self, pid):
        return any(p["pid"] == pid and p["path"].lower() == self.exe.lower() for p in self.driver.processes())

    def view(self):
        return WindowView(self.driver.controls(self.hwnd), self.harness.control_ids)

    def top_window(self):
        return self.driver.controls(self.hwnd)["window"]

    def wait_state(self, state, timeout=DEFAULT_TIMEOUT):
        """Waits until the window shows a UI state of UI_STATES; returns that reading."""
        last = []

        def matches():
            view = self.view()
            last[:] = view.state_mismatch(state)
            return view if not last else None
        try:
            return wait_for(matches, timeout, what=f"state {state}")
        except AssertionError as error:
            raise AssertionError(f"{error}; differences: {last}; dialogs: {self.dialogs()}") from None

    def wait_view(self, predicate, timeout=DEFAULT_TIMEOUT, what=None):
        """Waits until predicate(view) holds; returns that reading."""
        last = []

        def check():
            view = self.view()
            last[:] = [view]
            return view if predicate(view) else None
        try:
            return wait_for(check, timeout, what=what or getattr(predicate, "__name__", "the window"))
        except AssertionError as error:
            seen = last[0].summary() if last else None
            raise AssertionError(f"{error}; window: {seen}; dialogs: {self.dialogs()}") from None

    def click(self, name, mouse=False):
        """Clicks a control by its name in ControlIds.h, as a player would (refused if disabled)."""
        return self.driver.click(self.view()[name]["hwnd"], mouse=mouse)

    def try_click(self, name):
        return self.driver.try_click(self.view()[name]["hwnd"])

    def dialogs(self):
        return self.driver.dialogs(self.pid) if self.pid else []

    def wait_dialog(self, timeout=DEFAULT_TIMEOUT, caption=None):
        """Waits for a message box (or other dialog) of this launcher and returns it."""
        def dialog():
            for d in self.dialogs():
                if caption is None or d["caption"] == caption:
                    return d
            return None
        return wait_for(dialog, timeout, what=f"a dialog{' ' + caption if caption else ''}")

    def answer(self, dialog, button, timeout=DEFAULT_TIMEOUT):
        """Presses a dialog button and waits until the dialog is gone."""
        self.driver.press(dialog["hwnd"], button)
        wait_for(lambda: all(d["hwnd"] != dialog["hwnd"] for d in self.dialogs()), timeout,
                 what=f"dialog {dialog['caption']!r} to close")

    def no_dialog(self):
        return not self.dialogs()

    def screenshot(self, name):
        """Saves the window as <build>/e2e-screenshots/NAME.png; returns (width, height, rows)."""
        return self.driver.screenshot(self.hwnd, self.harness.screenshot_dir / f"{name}.png")

    def end(self):
        """Ends this launcher (and nothing else) at once: its Wine process is the Windows process."""
        if not self.exited():
            self.popen.kill()
        self.popen.wait(timeout=30)


def ready_launcher(game_folder, launch, service, sample_repo):
    """Starts a launcher over a current installation of the release channel and waits for StateReady."""
    game_folder.add_game()
    game_folder.write_last(sample_repo["main"][-1], "main")
    launcher = launch(endpoint=service.url)
    launcher.wait_state("Ready")
    return launcher


def box_text(dialog):
    """A message box's text with its line breaks (bare CR or CR LF) as LF."""
    return dialog["text"].replace("\r\n", "\n").replace("\r", "\n")


def game_window(driver, folder, timeout=DEFAULT_TIMEOUT):
    """The game stand-in's TfMain window, once its process has started and opened it."""
    def find():
        starts = folder.game_starts()
        if not starts:
            return None
        for w in driver.windows(pid=starts[-1]["pid"]):
            if w["class"] == "TfMain":
                return w
        return None
    return wait_for(find, timeout, what="the game window")
