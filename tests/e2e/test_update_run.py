"""Whole update runs through the real launcher against the repository service stand-in:
the first installation, incremental runs over change lists, the tree walk's cleanup,
failures that must leave the installation as it was, and the launcher replacing itself."""
import hashlib
import os
import shutil
import sys

import pytest

from e2e_support.installation import installation_differences, read_last, repository_files, write_installation
from e2e_support.launcher import LauncherProcess, box_text
from e2e_support.waiting import wait_for

FINISHED = "Загрузка завершена"
NOTHING_TO_LOAD = "Не найдено файлов для загрузки."
NOT_INSTALLED = "Игра не установлена!\nУкажите папку для установки игры или где находится игра."
PICKER_CAPTION = "Выберите каталог установки игры"
RUN_TIMEOUT = 120
PLAYER_MOD = "data/campanings/mods/example_mod.txt"
PLAYER_MOD_TEXT = b"the player's own version\n"
PLAYER_NOTES = b"the player's notes"


def finish_run(launcher, expected_text, name=None, screenshot=None):
    """Waits for the run's closing message, checks it, optionally saves the window, answers OK."""
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    assert box_text(dialog) == expected_text
    if screenshot and name:
        screenshot(launcher.hwnd, name)
    launcher.answer(dialog, "OK")


def update_posts(service, step):
    return [r["body"] for r in service.requests("/mp/collect") if f'"name": "update_{step}"' in r["body"]]


def own_repository(harness, name, launcher, with_maps=True):
    """A sample repository of the test's own and the stand-in over it: (summary, started service)."""
    sys.path.insert(0, str(harness.source_dir / "tools" / "samplerepo"))
    sys.path.insert(0, str(harness.source_dir / "tools" / "service"))
    import generate  # noqa: E402
    from repository_service import RepositoryService  # noqa: E402
    out = harness.build_dir / "e2e-work" / f"sample-repo-{name}"
    repo = generate.generate(out, launcher, harness.game_exe.read_bytes(), with_maps=with_maps)
    return repo, RepositoryService(repo["path"]).start()


def install_from_scratch(harness, game_folder, launch, service):
    """Starts the launcher in a folder without the game and installs into that folder, as a new player would."""
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateRequired")
    launcher.click("BTN_Update")
    info = launcher.wait_dialog()
    assert box_text(info) == NOT_INSTALLED
    launcher.answer(info, "OK")
    picker = launcher.wait_dialog(caption=PICKER_CAPTION)
    harness.driver.pick(picker["hwnd"], game_folder.windows)
    return launcher


def test_first_installation_fetches_the_branch_and_records_its_head(harness, game_folder, launch, service,
                                                                     sample_repo, launcher_log, screenshot):
    head = sample_repo["main"][-1]
    launcher = install_from_scratch(harness, game_folder, launch, service)
    finish_run(launcher, FINISHED, "update-finished", screenshot)
    view = launcher.wait_state("Ready")
    assert not view.shown("ProgressBar")
    assert view.text("L_Version") == "1.2.3.4"
    # One step per file fetched, map files included: the bar ended full, out of marquee mode.
    progress = view["ProgressBar"]["progress"]
    assert (progress["min"], progress["pos"], progress["max"], progress["marquee"]) == (0, 17, 17, False)

    files = repository_files(sample_repo["path"], head)
    assert installation_differences(game_folder.path, files) == []
    assert (game_folder.path / "Launcher.exe").read_bytes() == harness.launcher_exe.read_bytes()
    # The commit, not the tree the walk listed, is what the installation records.
    assert read_last(game_folder.path) == f"{head}\tmain"
    log = launcher_log.text()
    assert "Update: Try full update" in log
    # Three maps, each a work item; every file to fetch is one progress step.
    assert "Maps count: 3" in log
    end = update_posts(service, "end")
    assert len(end) == 1 and '"error": false' in end[0] and f'"branch": "main"' in end[0]
    # Nothing of the player's subtree or of .upgrade was asked for.
    raw = [r["path"] for r in service.requests("/ORMUND42/")]
    assert raw and not [p for p in raw if "/campanings/mods/" in p or "/.upgrade/" in p]


def test_a_walk_over_a_current_installation_fetches_only_pieces_and_cleans_up(harness, game_folder, launch,
                                                                               service, sample_repo):
    head = sample_repo["main"][-1]
    files = repository_files(sample_repo["path"], head)
    write_installation(game_folder.path, files)
    # Leftovers the repository does not list, and the player's own files.
    (game_folder.path / "Launcher_old.exe").write_bytes(b"old launcher")
    (game_folder.path / "data" / "maps" / "north.download").write_bytes(b"half a map")
    (game_folder.path / "data" / "stray.txt").write_bytes(b"stray")
    (game_folder.path / "data" / "empty").mkdir()
    mod = game_folder.path / PLAYER_MOD
    mod.parent.mkdir(parents=True)
    mod.write_bytes(PLAYER_MOD_TEXT)

    # Without .last nothing counts as installed: the walk compares every file.
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateRequired")
    launcher.click("BTN_Update")
    finish_run(launcher, FINISHED)
    view = launcher.wait_state("Ready")
    assert installation_differences(game_folder.path, files) == []
    assert mod.read_bytes() == PLAYER_MOD_TEXT
    assert (game_folder.path / "data" / "empty").is_dir()
    assert read_last(game_folder.path) == f"{head}\tmain"
    # Image pieces never live in the archives, so they are the only files fetched again.
    fetched = [r["path"].rsplit("/", 1)[-1] for r in service.requests("/ORMUND42/")]
    assert fetched and all(name.startswith(".part_") for name in fetched), fetched
    assert not view.shown("L_Update")


def test_a_walk_that_finds_nothing_records_the_head_and_says_so(harness, game_folder, launch):
    """Without maps (whose pieces every walk fetches) a current installation needs nothing."""
    repo, server = own_repository(harness, "without-maps", harness.launcher_exe.read_bytes(), with_maps=False)
    try:
        head = repo["main"][-1]
        files = repository_files(repo["path"], head)
        write_installation(game_folder.path, files)
        launcher = launch(endpoint=server.url)
        launcher.wait_state("UpdateRequired")
        launcher.click("BTN_Update")
        finish_run(launcher, NOTHING_TO_LOAD)
        view = launcher.wait_state("Ready")
        assert not view.shown("L_Update")
        assert read_last(game_folder.path) == f"{head}\tmain"
        assert installation_differences(game_folder.path, files) == []
        assert server.requests("/ORMUND42/veldra_public/main/") == []
        assert not [r for r in server.requests("/mp/collect") if '"name": "update_end"' in r["body"]]
    finally:
        server.stop()


def installed_release(game_folder, sample_repo, channel="main", index=0):
    commit = sample_repo[channel][index]
    write_installation(game_folder.path, repository_files(sample_repo["path"], commit))
    game_folder.write_last(commit, channel)
    mod = game_folder.path / PLAYER_MOD
    mod.parent.mkdir(parents=True, exist_ok=True)
    mod.write_bytes(PLAYER_MOD_TEXT)
    (game_folder.path / "notes.txt").write_bytes(PLAYER_NOTES)
    return commit


def test_incremental_run_follows_the_change_lists_to_the_head(harness, game_folder, launch, service, sample_repo,
                                                               launcher_log):
    installed = installed_release(game_folder, sample_repo)
    head = sample_repo["main"][-1]
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateOptional")
    launcher.click("BTN_Update")
    finish_run(launcher, FINISHED)
    launcher.wait_state("Ready")

    files = repository_files(sample_repo["path"], head)
    assert installation_differences(game_folder.path, files, allowed_extra=(".last", "Launcher.exe", "notes.txt")) == []
    # Renamed, deleted and player files as the change lists say; no tree was walked.
    assert not (game_folder.path / "data/text/old_name.txt").exists()
    assert not (game_folder.path / "data/text/obsolete.txt").exists()
    assert (game_folder.path / "data/text/кириллица.txt").read_bytes() == "Привет\n".encode()
    assert (game_folder.path / PLAYER_MOD).read_bytes() == PLAYER_MOD_TEXT
    assert read_last(game_folder.path) == f"{head}\tmain"
    api = [r["path"] for r in service.requests("/repos/")]
    assert not [p for p in api if "/git/trees/" in p]
    assert sum("/commits?sha=main&path=.upgrade/" in p for p in api) == 2
    end = update_posts(service, "end")
    assert len(end) == 1 and f'"hash": "{installed}"' in end[0] and '"error": false' in end[0]
    # The next start finds the installation current.
    launcher.click("BTN_Exit")
    launcher.wait_exit()
    launch(endpoint=service.url).wait_state("Ready")


def test_switching_to_the_test_channel_installs_its_head(game_folder, launch, service, sample_repo):
    installed_release(game_folder, sample_repo, "main", -1)
    launcher = launch(endpoint=service.url)
    launcher.wait_state("Ready")
    launcher.click("RB_Test")
    launcher.answer(launcher.wait_dialog(), "Yes")
    launcher.wait_state("UpdateRequired")
    launcher.click("BTN_Update")
    finish_run(launcher, FINISHED)
    launcher.wait_state("Ready")
    head = sample_repo["qa"][-1]
    assert (game_folder.path / "data/qa_only.txt").read_bytes() == b"test channel only\n"
    assert read_last(game_folder.path) == f"{head}\tqa"


def test_a_failed_download_keeps_the_players_files_and_the_installed_commit(game_folder, launch, service,
                                                                             sample_repo, screenshot):
    installed = installed_release(game_folder, sample_repo)
    before = (game_folder.path / "data/config.ini").read_bytes()
    service.behaviour["raw_status"] = {"/data/config.ini": 500}
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateOptional")
    launcher.click("BTN_Update")
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    screenshot(launcher.hwnd, "update-failed")
    text = box_text(dialog)
    launcher.answer(dialog, "OK")
    assert "500" in text, text
    # The window offers the update again, with the channel as it was and no progress left over.
    view = launcher.wait_state("UpdateOptional", timeout=RUN_TIMEOUT)
    screenshot(launcher.hwnd, "update-failed-after")
    assert not view.shown("ProgressBar")
    assert view.checked("RB_Release") and not view.checked("RB_Test")
    # The file whose download failed is untouched, the player's own files too, and nothing claims the new commit.
    assert (game_folder.path / "data/config.ini").read_bytes() == before
    assert (game_folder.path / PLAYER_MOD).read_bytes() == PLAYER_MOD_TEXT
    assert (game_folder.path / "notes.txt").read_bytes() == PLAYER_NOTES
    assert read_last(game_folder.path) == f"{installed}\tmain"
    launcher.click("BTN_Exit")
    assert launcher.wait_exit() == 0


def test_the_launcher_replaces_itself_and_the_new_one_finishes_the_run(harness, game_folder, launch,
                                                                       launcher_log):
    """The repository's Launcher.exe differs: the running launcher moves itself aside, fetches the new one,
    restarts it with /runupdate, and the new process carries out the run."""
    # Bytes after the image do not change what the program does, only its blob hash.
    newer = harness.launcher_exe.read_bytes() + b"\0" * 512
    repo, server = own_repository(harness, "new-launcher", newer)
    try:
        first = install_from_scratch(harness, game_folder, launch, server)
        assert first.wait_exit(timeout=RUN_TIMEOUT) == 0
        second = adopt_restarted(harness, game_folder, first.pid)
        finish_run(second, FINISHED)
        second.wait_state("Ready")
        assert (game_folder.path / "Launcher.exe").read_bytes() == newer
        files = repository_files(repo["path"], repo["main"][-1])
        assert installation_differences(game_folder.path, files) == []
        log = launcher_log.text()
        assert "Prepare to launcher update" in log and "Restart launcher" in log
        assert "run update" in log
        assert len([r for r in server.requests("/repos/") if "/contents/Launcher.exe" in r["path"]]) == 2
    finally:
        server.stop()


def test_a_launcher_restarted_for_a_blob_that_still_differs_stops_instead_of_restarting_again(
        harness, game_folder, launch, launcher_log):
    """The launcher replaces itself and restarts; before the restarted one checks, the old file is back in
    its place (a backup tool, an antivirus). The restarted launcher learned from its parent which launcher
    it was started to be, so it says so and stops instead of restarting for ever."""
    old = harness.launcher_exe.read_bytes()
    newer = old + b"\0" * 512
    blob = hashlib.sha1(b"blob %d\0" % len(newer) + newer).hexdigest()
    repo, server = own_repository(harness, "restart-guard", newer)
    handler = server.server.RequestHandlerClass
    plain_contents = handler._contents
    asked = []

    def contents(self, path, query):
        if path.strip("/") == "Launcher.exe":
            asked.append(path)
            if len(asked) == 2:
                # Renamed over it: the restarted process keeps running from the file it was started from.
                back = game_folder.path / "Launcher.exe.back"
                back.write_bytes(old)
                os.replace(back, game_folder.path / "Launcher.exe")
        return plain_contents(self, path, query)

    handler._contents = contents
    try:
        first = install_from_scratch(harness, game_folder, launch, server)
        assert first.wait_exit(timeout=RUN_TIMEOUT) == 0
        second = adopt_restarted(harness, game_folder, first.pid)
        dialog = second.wait_dialog(timeout=RUN_TIMEOUT)
        text = box_text(dialog)
        second.answer(dialog, "OK")
        assert text == "Не удалось обновить лаунчер: получена неверная версия. Попробуйте позже.", text
        assert f"Launcher still differs from {blob} after a restart for it" in launcher_log.text()
        second.wait_state("UpdateOptional", timeout=RUN_TIMEOUT)
        # One download of the new launcher, one restart: the restarted launcher is the only one left.
        assert len(asked) == 2
        assert len([r for r in server.requests("/ORMUND42/") if r["path"].endswith("/Launcher.exe")]) == 1
        exe = game_folder.windows.lower() + "\\launcher.exe"
        assert [p["pid"] for p in harness.driver.processes() if p["path"].lower() == exe] == [second.pid]
    finally:
        server.stop()


class RestartedLauncher(LauncherProcess):
    """A launcher that another launcher started: known by its process id only."""

    def exited(self):
        return not any(p["pid"] == self.pid for p in self.driver.processes())

    def end(self):
        if not self.exited():
            self.driver.kill(self.pid)


def adopt_restarted(harness, folder, old_pid):
    exe = folder.windows + "\\Launcher.exe"

    def started():
        for p in harness.driver.processes():
            if p["path"].lower() == exe.lower() and p["pid"] != old_pid:
                return p["pid"]
        return None
    process = RestartedLauncher(harness, folder, None, exe)
    process.pid = wait_for(started, RUN_TIMEOUT, what="the restarted launcher")

    def window():
        for w in harness.driver.windows(pid=process.pid):
            if w["title"] == "VELDRA LAUNCHER":
                return w
        return None
    process.hwnd = wait_for(window, RUN_TIMEOUT, what="the restarted launcher's window")["hwnd"]
    return process
