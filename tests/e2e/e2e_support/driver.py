"""The UI driver (tools/uidriver.exe): windows, controls, dialogs and input as Python calls."""
import json
import re
import tempfile
from pathlib import Path

from .images import bmp_to_png

# Dialog button identifiers, as message boxes use them.
BUTTON_IDS = {"OK": 1, "Cancel": 2, "Abort": 3, "Retry": 4, "Ignore": 5, "Yes": 6, "No": 7}


def read_control_ids(header):
    """Control name -> identifier, from the "#define IDC_<name> <number>" lines of ControlIds.h."""
    ids = {}
    for match in re.finditer(r"^\s*#define\s+IDC_(\w+)\s+(\d+)", Path(header).read_text(), re.MULTILINE):
        ids[match.group(1)] = int(match.group(2))
    return ids


class DriverError(RuntimeError):
    pass


class UiDriver:
    def __init__(self, wine, exe):
        self.wine = wine
        self.exe = Path(exe)

    def call(self, command, check=True, **options):
        """Runs one driver command; options become --name value (True: a bare flag)."""
        args = [self.exe, command]
        for name, value in options.items():
            if value is None or value is False:
                continue
            args.append("--" + name.replace("_", "-"))
            if value is not True:
                args.append(str(value))
        result = self.wine.run(args, timeout=60, check=False)
        if not result.stdout.strip() and not result.stderr.strip():
            # Every command of the driver ends with a reply, so a silent exit means
            # it stopped short (seen once in a full run, exit code 1): once more.
            result = self.wine.run(args, timeout=60, check=False)
        line = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else ""
        try:
            reply = json.loads(line)
        except ValueError:
            raise DriverError(f"uidriver {command}: no reply ({result.returncode}): {result.stdout}{result.stderr}")
        if check and isinstance(reply, dict) and "error" in reply:
            raise DriverError(f"uidriver {command} {options}: {reply['error']}")
        return reply

    # -- looking -----------------------------------------------------------
    def processes(self):
        return self.call("procs")

    def windows(self, pid=None):
        return self.call("windows", pid=pid)

    def screen_size(self):
        """(width, height) of the primary screen, in pixels."""
        reply = self.call("screen")
        return reply["width"], reply["height"]

    def controls(self, hwnd):
        """{"window": top-level window, "controls": [every descendant control]}"""
        return self.call("controls", hwnd=hwnd)

    def dialogs(self, pid=None):
        """Visible dialog boxes (#32770) of a process: caption, text, buttons, edits."""
        return self.call("dialogs", pid=pid)

    def registry(self, key):
        """A current-user key tree: {"exists", "values": {name: data}, "keys": {...}}."""
        return self.call("reg-query", key=key)

    # -- acting ------------------------------------------------------------
    def click(self, hwnd, mouse=False, force=False):
        """Clicks a control; refused (DriverError) when it is hidden or disabled unless forced."""
        return self.call("click", hwnd=hwnd, mouse=mouse, force=force)

    def try_click(self, hwnd):
        """Clicks like click(); returns the refusal text instead of raising, or None."""
        reply = self.call("click", check=False, hwnd=hwnd)
        return reply.get("error")

    def post(self, hwnd, message):
        """message: close, sysclose, altf4, minimize or restore."""
        return self.call("post", hwnd=hwnd, message=message)

    def press(self, dialog_hwnd, button):
        """Presses a dialog button by name (OK, Yes, No, ...) or identifier."""
        return self.call("press", hwnd=dialog_hwnd, id=BUTTON_IDS.get(button, button))

    def pick(self, dialog_hwnd, text):
        """Types text into the dialog's edit box and presses OK (the folder picker)."""
        return self.call("pick", hwnd=dialog_hwnd, text=text)

    def kill(self, pid):
        return self.call("kill", check=False, pid=pid)

    def kill_under(self, windows_folder):
        """Ends every process whose program lies in the folder; returns their ids."""
        return self.call("kill-under", folder=windows_folder)

    def foreground(self, hwnd):
        return self.call("foreground", check=False, hwnd=hwnd)

    def set_registry(self, key, value, name=None):
        return self.call("reg-set", key=key, name=name, value=value)

    def delete_registry(self, *keys):
        args = [self.exe, "reg-delete"]
        for key in keys:
            args += ["--key", key]
        reply = json.loads(self.wine.run(args, timeout=60, check=False).stdout.strip().splitlines()[-1])
        if "error" in reply:
            raise DriverError(f"uidriver reg-delete {keys}: {reply['error']}")
        return reply

    def screenshot(self, hwnd, png_path, client=False, print_window=False):
        """Saves what the screen shows of the window as PNG; returns (width, height, rows)."""
        png_path = Path(png_path)
        png_path.parent.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory() as folder:
            bmp = Path(folder) / "shot.bmp"
            self.call("screenshot", hwnd=hwnd, out=self.wine.windows_path(bmp), client=client, print=print_window)
            return bmp_to_png(bmp, png_path)
