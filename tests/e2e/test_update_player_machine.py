"""Update runs on a player's machine that gets in the way: a download fails, another program holds a file,
the game is running, the disk is full, files are read-only or hidden, the launcher is killed mid-run.

The player is told what happened in words that name the file or the drive and what to do. A failed run
deletes nothing and leaves every file either as it was or as in the head, no temporary file and the old
`.last`; once the cause is gone the next run reaches the head."""
import math
import os
import random
import re
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

from e2e_support.installation import (expected_installation, installation_differences, read_last, repository_files,
                                      write_installation)
from e2e_support.launcher import box_text, game_window
from e2e_support.holder import driver_holding
from e2e_support.waiting import wait_for
from test_update_faults import FINISHED, files_neither_before_nor_head, repository_module, snapshot

RUN_TIMEOUT = 120
MEGABYTE = 1024 * 1024
CONFIG = "data/config.ini"
OLD_NAME = "data/text/old_name.txt"
NEW_NAME = "data/text/new_name.txt"
OBSOLETE = "data/text/obsolete.txt"
BIG = "data/big.bin"
ADDED = "data/added.txt"
TEMPORARIES = ".launcher-temporaries"
# The game stand-in writes its events beside itself.
GAME_LOG = "VELDRA.log"
# What tmpfs leaves free beyond the installation: less than the head's new bytes need.
SLACK = MEGABYTE
BIG_SIZE = 4 * MEGABYTE


def held_message(path):
    return (f"Файл {path} занят другой программой (например, игрой, редактором или антивирусом). "
            "Закройте её и нажмите «Обновить» ещё раз.")


GAME_RUNNING = "Игра запущена. Закройте игру и нажмите «Обновить» ещё раз."
DISK_FULL = "Недостаточно места на диске C:. Освободите место на диске и нажмите «Обновить» ещё раз."
DISK_SHORT = re.compile(r"Недостаточно места на диске C:\. Нужно ещё (\d+) МБ\. "
                        r"Освободите место на диске и нажмите «Обновить» ещё раз\.")


def plain(text):
    """The text with its line breaks and runs of blanks as single blanks: a box may fold long lines."""
    return " ".join(text.split())


@pytest.fixture(scope="module")
def machine_repo(harness):
    """Two releases: the head changes config.ini, renames old_name.txt, deletes obsolete.txt and adds
    a small file and a big one."""
    generate, _ = repository_module(harness)
    common = {"Launcher.exe": harness.launcher_exe.read_bytes(), "VELDRA.exe": harness.game_exe.read_bytes(),
              "data/keep.txt": b"kept by every release\n"}
    old = {**common, CONFIG: b"[game]\nversion=1\n",
           OLD_NAME: b"this file is renamed in the head, its content stays\n",
           OBSOLETE: b"removed in the head\n"}
    head = {**common, CONFIG: b"[game]\nversion=2\n",
            NEW_NAME: old[OLD_NAME],
            ADDED: b"new in the head\n",
            BIG: random.Random("big").randbytes(BIG_SIZE)}
    repo = generate.generate_releases(harness.build_dir / "e2e-work" / "player-machine-repo", [old, head])
    old_commit, head_commit = repo["main"]
    changes = (Path(repo["path"]) / ".upgrade" / old_commit).read_text()
    assert re.search(r"^R\d+\tdata/text/old_name\.txt\tdata/text/new_name\.txt$", changes, re.M), changes
    assert f"D\t{OBSOLETE}" in changes.splitlines(), changes
    return {"path": repo["path"], "old": old_commit, "head": head_commit,
            "old_files": repository_files(repo["path"], old_commit),
            "head_files": repository_files(repo["path"], head_commit)}


@pytest.fixture
def machine_service(machine_repo, harness, request):
    _, RepositoryService = repository_module(harness)
    record = harness.build_dir / "e2e-work" / f"requests-player-machine-{request.node.name[-60:]}.jsonl"
    record.unlink(missing_ok=True)
    server = RepositoryService(machine_repo["path"], record_file=record).start()
    yield server
    server.stop()


@dataclass
class Machine:
    """The player's machine of one case: its installation folder, the service and the Windows helpers."""
    harness: object
    folder: object
    service: object
    repo: dict
    walk: bool

    def install(self):
        """The old release installed; with a `.last` of it unless the run is to walk the trees."""
        write_installation(self.folder.path, self.repo["old_files"])
        if not self.walk:
            self.folder.write_last(self.repo["old"], "main")

    def local(self, path):
        return self.folder.path / path

    def windows(self, path):
        return self.folder.windows + "\\" + path.replace("/", "\\")

    def raw_requests(self):
        return [r["path"] for r in self.service.requests("/ORMUND42/")]


def held_file(harness, windows_path):
    """Another program holds the file open (others may only read it) until the block ends."""
    return driver_holding(harness, ["hold-file", "--path", windows_path], windows_path)


def set_attributes(machine, path, **attributes):
    reply = machine.harness.driver.call("set-attributes", path=machine.windows(path), **attributes)
    assert all(reply[name] for name in attributes), reply


def tmpfs_size(files):
    """Bytes a tmpfs needs for the files, each rounded up to whole pages."""
    return sum(math.ceil(len(data) / 4096) * 4096 for data in files.values())


def free_bytes(path):
    stats = os.statvfs(path)
    return stats.f_bavail * stats.f_frsize


# -- the causes: each puts its fault in place, yields while the run meets it, then removes it ---------------

def download_fails(m):
    m.service.behaviour["raw_status"] = {"/" + CONFIG: 404}
    yield
    m.service.behaviour["raw_status"] = {}


def file_held(m):
    with held_file(m.harness, m.windows(CONFIG)):
        yield


def game_running(m):
    game = m.harness.wine.start([m.windows("VELDRA.exe")], cwd=m.folder.path)
    try:
        window = game_window(m.harness.driver, m.folder)
        yield
        # The player closes the game.
        m.harness.driver.post(window["hwnd"], "close")
        game.wait(timeout=60)
    finally:
        if game.poll() is None:
            game.kill()
            game.wait(timeout=30)


def disk_too_small(m):
    """The installation folder is a drive of its own that holds the installation and a little more."""
    installed, _ = expected_installation(m.repo["old_files"])
    needed = tmpfs_size(installed) + tmpfs_size({"Launcher.exe": m.harness.launcher_exe.read_bytes()})
    size = needed + SLACK
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(m.folder.path)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs on the game folder: {mounted.stderr.strip()}")
    try:
        m.folder.add_launcher()
        m.install()
        yield
        subprocess.run(["mount", "-o", f"remount,size={size + 16 * BIG_SIZE}", str(m.folder.path)], check=True)
        yield
    finally:
        # Nothing of the folder may stay open while it is unmounted.
        m.harness.end_processes_under(m.folder.windows)
        if subprocess.run(["umount", str(m.folder.path)], capture_output=True).returncode != 0:
            subprocess.run(["umount", "-l", str(m.folder.path)], check=True)


def files_read_only(m):
    # Wine lets root replace a read-only file but not delete one: the files the head deletes (the old name
    # of a rename among them) are what a launcher that leaves the attribute alone trips over here.
    for path in (CONFIG, OLD_NAME, OBSOLETE):
        set_attributes(m, path, readonly=True)
    yield


def last_hidden_and_read_only(m):
    # Under Wine, as root, neither attribute stops the record being rewritten: this shows that such a record
    # is read and replaced, not that the attributes were lifted (Windows would refuse the write).
    set_attributes(m, ".last", hidden=True, readonly=True)
    yield


def exactly(expected):
    return lambda m, free, text: [] if plain(text) == plain(expected) else [f"expected {expected!r}"]


def short_by_megabytes(m, free, text):
    """The early refusal of a walk: N lies between the shortfall of the head's new bytes and that of twice
    them (a replaced file stands beside its old one until it takes its place)."""
    match = DISK_SHORT.fullmatch(plain(text))
    if not match:
        return ["not the refusal of a walk"]
    old, head = m.repo["old_files"], m.repo["head_files"]
    growth = sum(max(0, len(data) - len(old.get(path, b""))) for path, data in head.items())
    fetched = sum(len(data) for path, data in head.items() if old.get(path) != data)
    low, high = math.ceil((growth - free) / MEGABYTE), math.ceil((2 * fetched - free) / MEGABYTE)
    return [] if low <= int(match.group(1)) <= high else [f"N={match.group(1)} outside {low}..{high}"]


@dataclass
class Case:
    cause: object
    walk: bool  # no `.last`: the run walks the trees
    message: object  # check(machine, free bytes before the run, text) -> problems; None: the run completes
    log: str = None  # what the log holds afterwards (a regular expression)
    kept: tuple = ()  # installed files the failed run leaves as they were
    untouched: bool = False  # refused before anything: no request for files, no file written


CASES = [
    pytest.param(Case(download_fails, False, exactly("Ошибка загрузки файла /data/config.ini [404]."),
                      kept=(CONFIG, OLD_NAME, OBSOLETE)), id="download-fails-deletes-nothing"),
    pytest.param(Case(file_held, False, exactly(held_message("/data/config.ini")),
                      log=r"System Error\.  Code: (32|5)\.", kept=(CONFIG, OLD_NAME, OBSOLETE)),
                 id="file-held-by-another-program"),
    pytest.param(Case(game_running, True, exactly(GAME_RUNNING), log=r"The game is running", untouched=True),
                 id="game-running"),
    pytest.param(Case(disk_too_small, True, short_by_megabytes, log=r"Not enough disk space"),
                 id="disk-too-small-walk"),
    pytest.param(Case(disk_too_small, False, exactly(DISK_FULL), log=r"code 112 \(",
                      kept=(OLD_NAME, OBSOLETE)), id="disk-full-change-list"),
    pytest.param(Case(files_read_only, False, None), id="read-only-files"),
    pytest.param(Case(last_hidden_and_read_only, False, None), id="hidden-read-only-last"),
]


def press_update(launcher, screenshot=None, name=None):
    """Presses "Обновить" once the window offers it and answers the box the run ends with: its text."""
    launcher.wait_view(lambda v: v.enabled("BTN_Update") and not launcher.dialogs(), timeout=RUN_TIMEOUT,
                       what="Update enabled")
    launcher.click("BTN_Update")
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    if screenshot:
        screenshot(launcher.hwnd, name)
    text = box_text(dialog)
    launcher.answer(dialog, "OK")
    return text


def temporary_files(folder):
    return sorted(p.relative_to(folder).as_posix() for p in Path(folder).rglob("*.download"))


def assert_at_head(machine, players_own=()):
    """The installation is the head's, `.last` names it, no temporary file or list of them is left."""
    folder, repo = machine.folder.path, machine.repo
    allowed = (".last", "Launcher.exe", GAME_LOG, *players_own)
    assert installation_differences(folder, repo["head_files"], allowed_extra=allowed) == []
    assert read_last(folder) == f"{repo['head']}\tmain"
    assert not (folder / TEMPORARIES).exists()
    assert [p for p in temporary_files(folder) if p not in players_own] == []


@pytest.mark.parametrize("case", CASES)
def test_a_fault_of_the_players_machine_is_told_and_the_next_run_completes(
        harness, game_folder, launch, launcher_log, machine_repo, machine_service, screenshot, request, case):
    name = f"player-machine-{request.node.callspec.id}"
    m = Machine(harness, game_folder, machine_service, machine_repo, case.walk)
    m.install()
    steps = case.cause(m)
    try:
        next(steps)
        before = snapshot(game_folder.path)
        free = free_bytes(game_folder.path)
        launcher = launch(endpoint=machine_service.url)
        launcher.wait_view(lambda v: v.enabled("BTN_Update"), what="the update offered")
        requests_before = len(machine_service.requests(""))
        text = press_update(launcher, screenshot, name)

        if case.message is None:
            assert text == FINISHED, text
            assert_at_head(m)
            return

        assert case.message(m, free, text) == [], text
        # The window offers the update again: a refusal before the run leaves it as it was, a failed run
        # ends in the optional update.
        launcher.wait_state("UpdateRequired" if case.untouched else "UpdateOptional", timeout=RUN_TIMEOUT)
        # What the failed run left, gathered so that the run after it is still tried and told.
        after = snapshot(game_folder.path)
        late = [r["path"] for r in machine_service.requests("")[requests_before:]]
        left = {
            "missing in the log": [case.log] if case.log and not re.search(case.log, launcher_log.text()) else [],
            "neither as before nor as in the head": [
                p for p in files_neither_before_nor_head(game_folder.path, before, machine_repo["head_files"])
                if p != TEMPORARIES],
            "list of temporary files": after.get(TEMPORARIES, b"").decode("utf-8", "replace").split(),
            "temporary files": temporary_files(game_folder.path),
            ".last changed": after.get(".last", b"") != before.get(".last", b""),
            "kept files changed": [path for path in case.kept if after.get(path) != before[path]],
            "fetched before the refusal": m.raw_requests() if case.walk else [],
            "touched": [p for p in sorted(set(after) | set(before)) if after.get(p) != before.get(p)] +
                       [p for p in late if not p.startswith("/mp/collect")] if case.untouched else [],
        }

        next(steps, None)  # the cause is gone
        assert press_update(launcher, screenshot, f"{name}-again") == FINISHED
        assert_at_head(m)
        assert {what: found for what, found in left.items() if found} == {}
    finally:
        steps.close()


def test_a_killed_run_leaves_its_temporary_files_listed_and_the_next_run_removes_them(
        harness, game_folder, launch, machine_repo, machine_service, screenshot):
    m = Machine(harness, game_folder, machine_service, machine_repo, walk=False)
    m.install()
    # A player's file under a name like the launcher's own: no list names it, so it stays.
    decoy = "data/keep.txt.download"
    m.local(decoy).write_bytes(b"the player's own\n")
    held = {"/" + BIG: 100000, "/" + CONFIG: 4, "/" + ADDED: 4}
    machine_service.behaviour["raw_hold"] = dict(held)
    launcher = launch(endpoint=machine_service.url)
    launcher.wait_state("UpdateOptional")
    launcher.click("BTN_Update")
    wait_for(lambda: {h["path"] for h in machine_service.holds() if h["state"] == "held"} == set(held),
             RUN_TIMEOUT, what="the held downloads")
    targets = {path.lstrip("/") for path in held}
    wait_for(lambda: {p.rsplit(".", 1)[0] for p in temporary_files(game_folder.path)} >= targets, RUN_TIMEOUT,
             what="a temporary file for each held download")
    screenshot(launcher.hwnd, "player-machine-killed-run-busy")

    assert harness.driver.kill(launcher.pid).get("ok"), "TerminateProcess failed"
    launcher.wait_exit()
    left = [p for p in temporary_files(game_folder.path) if p != decoy]
    listed = (game_folder.path / TEMPORARIES).read_text(encoding="utf-8").split()
    assert {p.rsplit(".", 1)[0] for p in left} >= targets, left
    assert {"/" + p for p in left} <= set(listed), listed
    assert "/" + decoy not in listed
    assert read_last(game_folder.path) == f"{machine_repo['old']}\tmain"

    for path in held:
        machine_service.release(path, "close")
    machine_service.behaviour["raw_hold"] = {}
    launcher = launch(endpoint=machine_service.url)
    text = press_update(launcher, screenshot, "player-machine-killed-run-next")
    assert text == FINISHED, text
    assert_at_head(m, players_own=(decoy,))
    assert m.local(decoy).read_bytes() == b"the player's own\n"
