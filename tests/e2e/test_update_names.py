"""Repository names that Windows cannot hold: a device name such as nul.txt or a forbidden character.
The run refuses such a path before it creates or opens anything for it, says which path and why, and
leaves the installation as it was; once a newer head no longer has the name, the next run completes."""
import subprocess
from pathlib import Path

import pytest

from e2e_support.installation import installation_differences, read_last, repository_files, write_installation
from e2e_support.launcher import box_text
from test_update_faults import FINISHED, release_repository, snapshot

RUN_TIMEOUT = 120
TELL = " Сообщите об этом разработчикам игры."


def refused(path, why):
    return f"Файл репозитория /{path} нельзя сохранить в Windows: {why}.{TELL}"


# (bad path in the faulty head, whether the run walks the trees (no .last) or follows change lists, message)
CASES = [
    pytest.param("data/nul.txt", False, refused("data/nul.txt", "«nul» — зарезервированное имя"),
                 id="reserved-name-change-list"),
    pytest.param("data/COM1.ini", True, refused("data/COM1.ini", "«COM1» — зарезервированное имя"),
                 id="reserved-name-tree"),
    pytest.param("data/who?.txt", False, refused("data/who?.txt", "знак «?» недопустим в имени"),
                 id="forbidden-character-change-list"),
    pytest.param("data/a|b.txt", True, refused("data/a|b.txt", "знак «|» недопустим в имени"),
                 id="forbidden-character-tree"),
    # A map is installed as <map>.zip: its folder's name is a file name.
    pytest.param("data/maps/aux/settings.ini", True,
                 refused("data/maps/aux/settings.ini", "«aux» — зарезервированное имя"), id="reserved-map-name-tree"),
]


def move_head(repo, commit):
    subprocess.run(["git", "-C", repo["path"], "update-ref", "refs/heads/main", commit], check=True)


def update(launcher, state, screenshot=None, name=None):
    """Presses "Обновить" and answers the box that ends the run: its text."""
    launcher.wait_state(state)
    launcher.click("BTN_Update")
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    if screenshot:
        screenshot(dialog["hwnd"], f"{name}-box")
        screenshot(launcher.hwnd, name)
    text = box_text(dialog)
    launcher.answer(dialog, "OK")
    return text


@pytest.mark.parametrize("bad, walk, message", CASES)
def test_a_name_windows_cannot_hold_is_refused_and_a_later_head_installs(
        game_folder, launch, harness, launcher_log, screenshot, request, bad, walk, message):
    releases = [
        {"data/a.txt": b"a1\n", "data/keep.txt": b"keep\n"},
        {"data/a.txt": b"a2\n", "data/keep.txt": b"keep\n", bad: b"[main]\r\nMapFormat=png\r\n"},
        {"data/a.txt": b"a3\n", "data/keep.txt": b"keep\n", "data/b.txt": b"b3\n"},
    ]
    case = request.node.callspec.id
    repo, server = release_repository(harness, f"names-{case}", releases)
    installed, faulty, fixed = repo["main"]
    try:
        move_head(repo, faulty)
        write_installation(game_folder.path, repository_files(repo["path"], installed))
        if not walk:
            game_folder.write_last(installed, "main")
        before = snapshot(game_folder.path)
        state = "UpdateRequired" if walk else "UpdateOptional"

        launcher = launch(endpoint=server.url)
        assert update(launcher, state, screenshot, f"update-names-{case}") == message
        # A run that failed offers the update again, whichever state it started from.
        view = launcher.wait_state("UpdateOptional", timeout=RUN_TIMEOUT)
        assert not view.shown("ProgressBar")
        launcher.click("BTN_Exit")
        assert launcher.wait_exit() == 0
        # Nothing written: every file as before, no temporary file; without .last the access probe
        # leaves an empty one, which records nothing.
        after = snapshot(game_folder.path)
        if ".last" not in before and after.get(".last") == b"":
            del after[".last"]
        assert after == before
        assert not [p for p in Path(game_folder.path).rglob("*.download")]
        assert not [r for r in server.requests("/ORMUND42/") if r["path"].endswith("/" + bad)]
        assert f"Repository path /{bad} cannot be stored on Windows" in launcher_log.text()

        # The developers removed the name: the next run reaches the new head.
        move_head(repo, fixed)
        launcher = launch(endpoint=server.url)
        assert update(launcher, state) == FINISHED
        assert installation_differences(game_folder.path, repository_files(repo["path"], fixed)) == []
        assert read_last(game_folder.path) == f"{fixed}\tmain"
        if not walk:
            # The chain deletes the name again: skipped, nothing of that name exists to delete.
            assert f"Skipped: Repository path /{bad} cannot be stored on Windows" in launcher_log.text()
    finally:
        server.stop()
