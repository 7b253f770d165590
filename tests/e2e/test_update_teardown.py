"""The player closes the window in the middle of an update run: downloads are held open by the service
and a big map is being packed. The launcher ends by itself, without a fault, and leaves every file
either as it was or as in the new head, with no temporary file behind."""
import random
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import pytest

from e2e_support.installation import (PLACED_RECORD, _archive_differences, expected_installation,
                                      placed_record_names_the_heads_files, repository_files, write_installation)
from e2e_support.launcher import box_text
from e2e_support.waiting import wait_for

RUN_TIMEOUT = 120
# Windows frees a closed download at once; Wine only when its pending receive times out (60 s after it
# began), and the launcher waits for that before it exits.
EXIT_TIMEOUT = 90
BIG = "big"
BIG_PIECE = f"data/maps/{BIG}/.part_0_0.png"
BIG_ARCHIVE = f"data/maps/{BIG}.zip"
# One full piece: its packing takes seconds even on a fast machine.
BIG_SIDE = 4000
# Held downloads by repository path: what the service sends before holding ("silent": nothing).
HELD = {"/data/held/silent.bin": "silent", "/data/held/headers.bin": 0, "/data/held/part.bin": 20000}
FAILING = "/data/held/failing.bin"
# A log entry with a stack that is not a download error is a fault; "still open" reports downloads
# given up at exit.
EXPECTED_ERROR = "EDownloadError."


def _ini(title):
    return f"[main]\r\nMapFormat=png\r\nTitle={title}\r\n".encode("ascii")


def _bytes(tag, size=64 * 1024):
    return random.Random(tag).randbytes(size)


@pytest.fixture(scope="module")
def teardown_repo(harness):
    """Two releases: the second changes every held file and the small map and adds the big map."""
    sys.path.insert(0, str(harness.source_dir / "tools" / "samplerepo"))
    import generate  # noqa: E402
    import images  # noqa: E402
    pixels = images.noise_rgb(BIG_SIDE, BIG_SIDE)
    held = [path.lstrip("/") for path in [*HELD, FAILING]]
    old = {"Launcher.exe": harness.launcher_exe.read_bytes(), "VELDRA.exe": harness.game_exe.read_bytes(),
           "data/config.ini": b"[game]\nversion=1\n",
           "data/maps/north/settings.ini": _ini("North"),
           "data/maps/north/objects.txt": b"tree 1 2\n",
           "data/maps/north/.part_0_0.png": images.png_rgb(64, 48, (40, 90, 160)),
           **{path: _bytes(f"old {path}") for path in held}}
    new = {**old, "data/config.ini": b"[game]\nversion=2\n", "data/added.txt": b"new in the head\n",
           "data/maps/north/.part_0_0.png": images.png_rgb(64, 48, (60, 110, 180)),
           f"data/maps/{BIG}/settings.ini": _ini("Big"),
           BIG_PIECE: images.png_noise(BIG_SIDE, BIG_SIDE, pixels),
           **{path: _bytes(f"new {path}") for path in held}}
    out = harness.build_dir / "e2e-work" / "teardown-repo"
    repo = generate.generate_releases(out, [old, new])
    return {"path": repo["path"], "old": repo["main"][0], "head": repo["main"][-1], "big_pixels": pixels}


@pytest.fixture
def hold_service(teardown_repo, harness, request):
    sys.path.insert(0, str(harness.source_dir / "tools" / "service"))
    from repository_service import RepositoryService  # noqa: E402
    record = harness.build_dir / "e2e-work" / f"requests-teardown-{request.node.callspec.id}.jsonl"
    server = RepositoryService(teardown_repo["path"], record_file=record).start()
    yield server
    server.stop()


def snapshot(folder):
    folder = Path(folder)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def size(path):
    try:
        return path.stat().st_size
    except FileNotFoundError:  # placed or discarded meanwhile
        return 0


def held_now(service):
    return {h["path"] for h in service.holds() if h["state"] == "held"}


def decode_png(data):
    """(width, height, RGB bytes) through netpbm, a decoder that is not the launcher's."""
    if not shutil.which("pngtopnm"):
        pytest.fail("pngtopnm (netpbm) is missing: tools/bootstrap.sh installs it")
    ppm = subprocess.run(["pngtopnm"], input=data, capture_output=True, check=True).stdout
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    return int(header.group(1)), int(header.group(2)), ppm[header.end():]


def big_archive_differences(path, head_files, pixels):
    """What keeps the big map's archive from being the head's map, without composing it in Python."""
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            return [f"damaged {BIG_ARCHIVE}"]
        members = {name: archive.read(name) for name in archive.namelist()}
    if sorted(members) != ["map.png", "settings.ini"]:
        return [f"{BIG_ARCHIVE} holds {sorted(members)}"]
    differences = []
    if members["settings.ini"] != head_files[f"data/maps/{BIG}/settings.ini"]:
        differences.append(f"different {BIG_ARCHIVE}:settings.ini")
    width, height, rgb = decode_png(members["map.png"])
    if (width, height) != (BIG_SIDE, BIG_SIDE) or rgb != pixels:
        differences.append(f"{BIG_ARCHIVE}:map.png is {width}x{height}, pixels equal: {rgb == pixels}")
    return differences


def log_entries(text):
    """The log's entries, each with its continuation lines (a stack, for example)."""
    return [entry for entry in re.split(r"\r?\n(?=\[)", text) if entry.strip()]


def bad_log_entries(text):
    bad = []
    for entry in log_entries(text):
        body = entry.split("] ", 1)[-1]
        fault = "Stack:" in entry and not body.startswith(EXPECTED_ERROR)
        if fault or "still open" in entry or "EAccessViolation" in entry:
            bad.append(entry)
    return bad


def neither_before_nor_head(folder, before, head_files, pixels):
    """Paths whose content is neither what they held before the run nor what the head defines."""
    plain, maps = expected_installation({p: d for p, d in head_files.items() if p != BIG_PIECE})
    now = snapshot(folder)
    wrong = []
    for path in sorted(set(before) | set(now)):
        if path in now and now[path] == before.get(path):
            continue
        if path in plain and now.get(path) == plain[path]:
            continue
        # A failed run keeps its record of the files it placed, for the next run to skip.
        if path == PLACED_RECORD and path not in before and placed_record_names_the_heads_files(now, plain):
            continue
        if path == BIG_ARCHIVE and path in now:
            wrong += big_archive_differences(Path(folder) / path, head_files, pixels)
            continue
        if path in maps and path in now and not _archive_differences(Path(folder) / path, path, maps[path]):
            continue
        wrong.append(path)
    return wrong


CASES = [  # how the failing download is held, how it fails, how the window is closed
    pytest.param("silent", 500, "exit-button", id="status-500-then-exit-button"),
    pytest.param(20000, "close", "close-message", id="body-cut-then-close-message"),
]


@pytest.mark.parametrize("failing_hold, failure, close", CASES)
def test_closing_mid_run_ends_the_launcher_cleanly(harness, game_folder, launch, launcher_log, teardown_repo,
                                                    hold_service, screenshot, request, failing_hold, failure,
                                                    close):
    name = f"update-teardown-{request.node.callspec.id}"
    repo = teardown_repo
    write_installation(game_folder.path, repository_files(repo["path"], repo["old"]))
    game_folder.write_last(repo["old"], "main")
    before = snapshot(game_folder.path)
    wine_temp = harness.wine.documents_dir().parent / "Temp"
    temp_before = set(wine_temp.glob("vdrp*"))
    hold_service.behaviour["raw_hold"] = {**HELD, FAILING: failing_hold}
    launcher = launch(endpoint=hold_service.url)
    launcher.wait_state("UpdateOptional")
    launcher.click("BTN_Update")

    # Every held download open, and the big map's new archive already taking the encoded image.
    wait_for(lambda: held_now(hold_service) == {*HELD, FAILING}, RUN_TIMEOUT, what="the held downloads")
    launcher_log.wait_for(f"Begin map packing: {BIG}", timeout=RUN_TIMEOUT)
    maps = game_folder.path / "data" / "maps"
    wait_for(lambda: [p for p in maps.glob("*.download") if size(p) > 1 << 20], RUN_TIMEOUT,
             what="the big map's new archive growing")
    # Busy: the window can be closed only once the run has failed.
    assert launcher.view().state_mismatch("Busy") == []
    screenshot(launcher.hwnd, f"{name}-packing")

    # The failure is retried; the retry finds the file gone, which no retry mends.
    hold_service.behaviour["raw_status"] = {FAILING: 404}
    hold_service.release(FAILING, failure)
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    assert box_text(dialog).startswith(f"Ошибка загрузки файла {FAILING}"), box_text(dialog)
    launcher.answer(dialog, "OK")
    if close == "exit-button":
        launcher.wait_view(lambda v: v.enabled("BTN_Exit"), what="Exit enabled after the failure")
    screenshot(launcher.hwnd, f"{name}-closing")
    # A launcher may stop packing once the run failed; whether it still packed is recorded, not required.
    packing = f"End map packing: {BIG}" not in launcher_log.text() and any(maps.glob("*.download"))
    request.node.user_properties.append(("packing_in_flight_at_close", packing))
    print(f"packing in flight at close: {packing}")
    assert held_now(hold_service) == set(HELD), hold_service.holds()
    if close == "exit-button":
        launcher.click("BTN_Exit")
    else:
        harness.driver.post(launcher.hwnd, "close")
    closed = time.monotonic()

    assert launcher.wait_exit(EXIT_TIMEOUT) == 0
    print(f"ended {time.monotonic() - closed:.1f} s after closing")
    log = launcher_log.text()
    head_files = repository_files(repo["path"], repo["head"])
    ours = game_folder.windows.lower() + "\\"
    left_behind = {
        "faults in the log": bad_log_entries(log),
        "temporary files": [p.relative_to(game_folder.path).as_posix() for p in game_folder.path.rglob("*.download")],
        "neither as before nor as in the head": neither_before_nor_head(game_folder.path, before, head_files,
                                                                        repo["big_pixels"]),
        "temporary streams": sorted(p.name for p in set(wine_temp.glob("vdrp*")) - temp_before),
        "processes": [p["path"] for p in harness.driver.processes() if p["path"].lower().startswith(ours)],
    }
    assert {what: found for what, found in left_behind.items() if found} == {}
    assert [e for e in log_entries(log) if e.split("] ", 1)[-1].startswith(EXPECTED_ERROR) and FAILING in e], \
        "the failure is not in the log"
    assert (game_folder.path / FAILING.lstrip("/")).read_bytes() == before[FAILING.lstrip("/")]
    assert (game_folder.path / ".last").read_bytes() == before[".last"]
    # The held requests ended because the client went away, not the service.
    wait_for(lambda: not held_now(hold_service), 10, what="the held connections closed by the launcher")
    assert {h["path"]: h["state"] for h in hold_service.holds() if h["path"] in HELD} == \
        {path: "closed by client" for path in HELD}
