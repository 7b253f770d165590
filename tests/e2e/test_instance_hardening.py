"""Single instance under pressure: bursts of starts, a restart that takes over, pipes of
other users and sessions, the elevated helper that only removes the old file, links that
cannot add switches, endpoint overrides that stay on this machine, and a missing winhttp.dll."""
import time

import pytest

from e2e_support.launcher import WINDOW_CAPTION
from e2e_support.holder import driver_holding
from e2e_support.waiting import wait_for

HAND_OVER_TIMEOUT = 60


def launcher_windows(harness, exe):
    ours = {p["pid"] for p in harness.driver.processes() if p["path"].lower() == exe.lower()}
    return [w for w in harness.driver.windows() if w["title"] == WINDOW_CAPTION and w["pid"] in ours]


def installed(game_folder, sample_repo):
    game_folder.add_game()
    game_folder.write_last(sample_repo["main"][-1], "main")


def test_ten_starts_at_once_make_one_window_and_every_link_arrives(harness, game_folder, launch, launcher_log):
    texts = [f"Srv{i}:{7000 + i}" for i in range(5)]
    args = [["/connect", f"vdr://connect/{t}"] for t in texts] + [[] for _ in range(5)]
    # Interleaved, all started before any of them has got far.
    order = [args[i // 2 + 5 * (i % 2)] for i in range(10)]
    started = [launch(*a, window=False) for a in order]

    wait_for(lambda: sum(p.exited() for p in started) == 9, 60, what="nine launchers to end by themselves")
    assert [p.popen.returncode for p in started if p.exited()] == [0] * 9
    first = next(p for p in started if not p.exited())
    wait_for(lambda: launcher_windows(harness, first.exe), what="the first launcher's window")
    time.sleep(1)
    assert len(launcher_windows(harness, first.exe)) == 1
    boxes = harness.driver.dialogs()
    assert not [b for b in boxes if "System Error" in b["text"] or "Code: 231" in b["text"]], boxes

    # The starter's own text stays with it; every other one came over the pipe.
    own = order[started.index(first)]
    for text in texts:
        if own and own[1].endswith(text):
            continue
        launcher_log.wait_for(f"request from another start: /connect {text}")


def test_a_restarted_launcher_waits_for_the_old_one_and_keeps_its_update(game_folder, launch, service, sample_repo,
                                                                        launcher_log):
    installed(game_folder, sample_repo)
    old = launch(endpoint=service.url)
    old.wait_state("Ready")
    # As after a self-update: the new process starts while the old one still runs.
    new = launch("/runupdate", '"main"', endpoint=service.url, window=False)
    time.sleep(2)
    assert not new.exited(), "the restarted launcher must wait, not hand its start over"
    old.click("BTN_Exit")
    assert old.wait_exit() == 0
    new.find_window(timeout=HAND_OVER_TIMEOUT)
    launcher_log.wait_for("run update")
    assert "request from another start" not in launcher_log.text()


def scoped_pipe(session, sid):
    """The pipe of a user's launcher in a session."""
    return rf"\\.\pipe\VELDRA.Launcher.{session}.{sid}"


def next_account(sid):
    """The SID of the machine's next account: only the last relative id differs."""
    head, rid = sid.rsplit("-", 1)
    return f"{head}-{int(rid) + 1}"


def held_pipe(harness, name):
    """Another program holds the pipe `name` (one instance, other modes) until the block ends."""
    return driver_holding(harness, ["hold-pipe", "--name", name], name)


FOREIGN_PIPES = [
    pytest.param(lambda session, sid: r"\\.\pipe\VELDRA", id="machine-wide-name-of-older-launchers"),
    pytest.param(lambda session, sid: scoped_pipe(session, next_account(sid)), id="another-user-same-session"),
    pytest.param(lambda session, sid: scoped_pipe(session + 1, sid), id="same-user-another-session"),
]


@pytest.mark.parametrize("foreign", FOREIGN_PIPES)
def test_a_pipe_of_another_scope_does_not_stop_this_users_launcher(harness, game_folder, launch, service, sample_repo,
                                                                  launcher_log, screenshot, request, foreign):
    me = harness.driver.call("token")
    installed(game_folder, sample_repo)
    with held_pipe(harness, foreign(me["session"], me["sid"])) as holder:
        launcher = launch(endpoint=service.url)
        launcher.wait_state("Ready")
        screenshot(launcher.hwnd, f"foreign-pipe-{request.node.callspec.id}")
        assert launcher.dialogs() == []
        # This user's launcher listens on a pipe of its own beside the foreign one...
        assert harness.driver.call("pipe-probe", name=scoped_pipe(me["session"], me["sid"]))["code"] == 0
        # ...and a second start of the same user still hands its request over.
        assert launch(window=False).wait_exit() == 0
        launcher_log.wait_for("request from another start: /activate")
        assert holder.poll() is None, "the foreign pipe's holder was disturbed"


def test_the_elevated_helper_removes_the_old_file_while_the_launcher_runs(game_folder, launch, service, sample_repo,
                                                                         launcher_log):
    installed(game_folder, sample_repo)
    running = launch(endpoint=service.url)
    running.wait_state("Ready")
    old_file = game_folder.path / "Launcher_old.exe"
    old_file.write_bytes(b"MZ old launcher")

    helper = launch("/removeOldAndClose", window=False)
    assert helper.wait_exit() == 0
    assert not old_file.exists()
    launcher_log.wait_for("remove old launcher and close")
    assert "request from another start: /activate" not in launcher_log.text()
    running.wait_state("Ready")


def test_a_link_cannot_add_switches_and_unsafe_texts_are_refused(game_folder, launch, service, sample_repo,
                                                               launcher_log):
    installed(game_folder, sample_repo)
    launch("/connect", "vdr://connect/Abc", "/runupdate", "qa", endpoint=service.url)
    start = wait_for(game_folder.game_starts, what="the game to start")[0]
    assert start["params"] == "Abc"
    assert "run update" not in launcher_log.text()

    assert launch("/connect", "vdr://connect/a\tb", window=False).wait_exit() == 0
    launcher_log.wait_for("connect text refused: it holds a control character")


def test_endpoint_overrides_only_for_this_machine(game_folder, launch, launcher_log):
    # Nothing installed: no repository request is made, only the log tells.
    launch(env={"VELDRA_API_URL": "http://192.0.2.1:8080", "VELDRA_RAW_URL": "http://localhost:9"})
    launcher_log.wait_for("VELDRA_API_URL ignored")
    launcher_log.wait_for("VELDRA_RAW_URL in force: http://localhost:9")


def test_a_missing_winhttp_ends_the_start_with_one_message(harness, game_folder, launch):
    broken = launch(env={"WINEDLLOVERRIDES": "mscoree,mshtml=;winhttp=d"}, window=False)

    def box():
        found = [d for d in harness.driver.dialogs() if "winhttp.dll" in d["text"]]
        return found[0] if found else None
    dialog = wait_for(box, what="the start-up error box")
    assert dialog["text"] == "Unable to load library winhttp.dll"
    harness.driver.press(dialog["hwnd"], "OK")
    assert broken.wait_exit() == 1
    assert not launcher_windows(harness, broken.exe)


def test_a_last_file_of_any_size_is_a_read_error(game_folder, launch, launcher_log, sample_repo):
    installed(game_folder, sample_repo)
    # Far beyond any commit and channel; only a bounded prefix may be read.
    (game_folder.path / ".last").write_bytes(b"\x00a" * (8 << 20))
    launcher = launch()
    box = launcher.wait_dialog()
    assert box["text"] == "Файл .last повреждён."
    launcher.answer(box, "OK")
    launcher_log.wait_for("Exception")
    # The folder is dropped: the launcher goes on as without an installation.
    launcher.wait_state("UpdateRequired")
