"""Update runs against a repository service that misbehaves the way real networks and repositories
do. After every run each file of the installation is either the file it was before or the file of
the new head, byte for byte; a run that could not reach the head says so and keeps `.last`."""
import sys
from pathlib import Path

import pytest

from e2e_support.installation import (PLACED_RECORD, _archive_differences, expected_installation,
                                      installation_differences, placed_record_names_the_heads_files,
                                      read_last, repository_files, write_installation)
from e2e_support.launcher import box_text

FINISHED = "Загрузка завершена"
UNSTARTABLE_LAUNCHER = ("Не удалось запустить новую версию лаунчера (возможно, её блокирует антивирус). "
                        "Прежняя версия восстановлена, попробуйте обновиться позже.")
RUN_TIMEOUT = 120
CONFIG = "/data/config.ini"
NORTH_PIECE = "/data/maps/north/.part_0_0.png"
SOUTH_OBJECTS = "/data/maps/south/objects.txt"


def snapshot(folder):
    """{relative path: bytes} of every file below the folder."""
    folder = Path(folder)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def files_neither_before_nor_head(folder, before, head_files):
    """Paths whose content is neither what they held before the run nor what the head defines."""
    plain, maps = expected_installation(head_files)
    now = snapshot(folder)
    wrong = []
    for path in sorted(set(before) | set(now)):
        if path in now and now[path] == before.get(path):
            continue
        # The write-access probe before a run leaves an empty record: nothing installed.
        if path == ".last" and path not in before and now[path] == b"":
            continue
        if path in plain and now.get(path) == plain[path]:
            continue
        # A failed run keeps its record of the files it placed, for the next run to skip.
        if path == PLACED_RECORD and path not in before and placed_record_names_the_heads_files(now, plain):
            continue
        if path in maps and path in now and not _archive_differences(Path(folder) / path, path, maps[path]):
            continue
        wrong.append(path)
    return wrong


def repository_module(harness):
    sys.path.insert(0, str(harness.source_dir / "tools" / "samplerepo"))
    sys.path.insert(0, str(harness.source_dir / "tools" / "service"))
    import generate  # noqa: E402
    from repository_service import RepositoryService  # noqa: E402
    return generate, RepositoryService


def release_repository(harness, name, releases, without_change_list=(), launcher=None):
    """A repository of the test's own whose releases also hold the launcher and the game: (summary, service)."""
    generate, RepositoryService = repository_module(harness)
    launcher = launcher or harness.launcher_exe.read_bytes()
    game = harness.game_exe.read_bytes()
    whole = [{"Launcher.exe": launcher, "VELDRA.exe": game, **files} for files in releases]
    out = harness.build_dir / "e2e-work" / f"fault-repo-{name}"
    repo = generate.generate_releases(out, whole, without_change_list)
    return repo, RepositoryService(repo["path"]).start()


def run_update(launcher, state, screenshot=None, name=None):
    """Starts a run from the given state and answers its closing message: its text."""
    launcher.wait_state(state)
    launcher.click("BTN_Update")
    dialog = launcher.wait_dialog(timeout=RUN_TIMEOUT)
    text = box_text(dialog)
    if screenshot:
        screenshot(launcher.hwnd, name)
    launcher.answer(dialog, "OK")
    return text


# The walk knows every blob; the faulted file changed between the installed release and the head.
DOWNLOAD_FAULTS = [
    # A body cut short is a connection that went: retried, then told as such.
    pytest.param({"raw_fault": {CONFIG: "cut"}}, CONFIG, "Нет связи с сервером обновлений.", id="body-cut-short"),
    # A length other than the tree's fails before the body is read.
    pytest.param({"raw_fault": {CONFIG: "long_length"}}, CONFIG,
                 "Ошибка загрузки файла /data/config.ini: сервер объявил 1017 байт вместо 17.",
                 id="announced-length-longer-than-body"),
    pytest.param({"raw_fault": {CONFIG: "wrong_bytes"}}, CONFIG,
                 "Ошибка загрузки файла /data/config.ini: файл повреждён", id="wrong-bytes-right-length"),
    pytest.param({"raw_status": {CONFIG: 404}}, CONFIG, "Ошибка загрузки файла /data/config.ini [404]", id="404"),
    # Transient faults that outlast their retries name their kind and say the next run continues.
    pytest.param({"raw_status": {CONFIG: 500}}, CONFIG, "Сервер обновлений ответил ошибкой (код 500).", id="500"),
    pytest.param({"raw_fault": {CONFIG: "drop"}}, CONFIG, "Нет связи с сервером обновлений.", id="connection-dropped"),
    pytest.param({"raw_fault": {NORTH_PIECE: "wrong_bytes"}}, "data/maps/north.zip",
                 "Ошибка загрузки файла /data/maps/north/.part_0_0.png: файл повреждён", id="map-piece-wrong-bytes"),
    pytest.param({"raw_fault": {SOUTH_OBJECTS: "cut"}}, "data/maps/south.zip", "Нет связи с сервером обновлений.",
                 id="map-file-cut-short"),
]


@pytest.mark.parametrize("behaviour, kept, message", DOWNLOAD_FAULTS)
def test_a_failed_download_changes_nothing_it_touched_and_says_so(game_folder, launch, service, sample_repo,
                                                                   screenshot, request, behaviour, kept, message):
    installed = sample_repo["main"][0]
    write_installation(game_folder.path, repository_files(sample_repo["path"], installed))
    before = snapshot(game_folder.path)
    service.behaviour.update(behaviour)
    launcher = launch(endpoint=service.url)
    # Without .last the run walks the trees, so every download has its blob to match.
    text = run_update(launcher, "UpdateRequired", screenshot, f"update-fault-{request.node.callspec.id}")
    assert text.startswith(message) and text.strip(), text
    launcher.wait_view(lambda v: v.enabled("BTN_Exit"), what="Exit enabled after the failure")
    launcher.click("BTN_Exit")
    assert launcher.wait_exit() == 0
    # What the player is left with: no temporary file, each file as before or as in the head.
    head_files = repository_files(sample_repo["path"], sample_repo["main"][-1])
    assert files_neither_before_nor_head(game_folder.path, before, head_files) == []
    assert (game_folder.path / kept.lstrip("/")).read_bytes() == before[kept.lstrip("/")]
    assert (game_folder.path / ".last").read_bytes() == b""


def test_a_stale_change_list_chain_gives_way_to_the_walk_entirely(game_folder, launch, harness):
    """The first change list deletes back.txt and adds added.txt; the second is missing, and the head
    has back.txt again and no added.txt: the walk alone decides."""
    releases = [
        {"data/back.txt": b"back\n", "data/keep.txt": b"keep\n"},
        {"data/keep.txt": b"keep\n", "data/added.txt": b"added for a while\n"},
        {"data/back.txt": b"back\n", "data/keep.txt": b"keep\n", "data/third.txt": b"third\n"},
    ]
    repo, server = release_repository(harness, "stale-chain", releases, without_change_list=(2,))
    try:
        write_installation(game_folder.path, repository_files(repo["path"], repo["main"][0]))
        game_folder.write_last(repo["main"][0], "main")
        launcher = launch(endpoint=server.url)
        assert run_update(launcher, "UpdateOptional") == FINISHED
        head = repo["main"][-1]
        assert installation_differences(game_folder.path, repository_files(repo["path"], head)) == []
        assert read_last(game_folder.path) == f"{head}\tmain"
        assert [r for r in server.requests("/repos/") if "/git/trees/" in r["path"]], "no walk"
    finally:
        server.stop()


def test_names_that_differ_only_in_case_or_by_a_temporary_suffix(game_folder, launch, harness):
    """A Cyrillic rename that changes only the letter case, and repository files whose names look like
    the launcher's temporary files, all end as in the head."""
    releases = [
        {"data/text/Файл.txt": b"old\n", "data/x.txt": b"x1\n", "data/x.txt.download": b"xd1\n",
         "data/maps/north.download": b"nd1\n", "data/maps/north/settings.ini": b"[main]\r\nMapFormat=png\r\n",
         "data/maps/north/objects.txt": b"o1\n"},
        {"data/text/файл.txt": b"new\n", "data/x.txt": b"x2\n", "data/x.txt.download": b"xd2\n",
         "data/maps/north.download": b"nd2\n", "data/maps/north/settings.ini": b"[main]\r\nMapFormat=png\r\n",
         "data/maps/north/objects.txt": b"o2\n"},
    ]
    repo, server = release_repository(harness, "names", releases)
    try:
        write_installation(game_folder.path, repository_files(repo["path"], repo["main"][0]))
        game_folder.write_last(repo["main"][0], "main")
        launcher = launch(endpoint=server.url)
        assert run_update(launcher, "UpdateOptional") == FINISHED
        text_folder = game_folder.path / "data" / "text"
        renamed = [p for p in text_folder.iterdir() if p.name.casefold() == "файл.txt"]
        assert len(renamed) == 1 and renamed[0].read_bytes() == b"new\n", [p.name for p in text_folder.iterdir()]
        for path, data in {"data/x.txt": b"x2\n", "data/x.txt.download": b"xd2\n",
                           "data/maps/north.download": b"nd2\n"}.items():
            assert (game_folder.path / path).read_bytes() == data, path
        head_files = repository_files(repo["path"], repo["main"][-1])
        _, maps = expected_installation(head_files)
        archive = "data/maps/north.zip"
        assert _archive_differences(game_folder.path / archive, archive, maps[archive]) == []
    finally:
        server.stop()


def test_submodule_entries_are_skipped(game_folder, launch, harness):
    generate, _ = repository_module(harness)
    other = "0123456789abcdef0123456789abcdef01234567"
    releases = [{"data/a.txt": b"a\n", "vendor": generate.Submodule(other),
                 "data/sdk": generate.Submodule(other), "tools/deep/engine": generate.Submodule(other)}]
    repo, server = release_repository(harness, "submodules", releases)
    try:
        game_folder.add_game()
        launcher = launch(endpoint=server.url)
        # Launcher.exe and the game are the repository's already: the walk fetches data/a.txt only.
        assert run_update(launcher, "UpdateRequired") == FINISHED
        head = repo["main"][-1]
        assert installation_differences(game_folder.path, repository_files(repo["path"], head)) == []
        fetched = [r["path"] for r in server.requests("/ORMUND42/")]
        assert not [p for p in fetched if p.endswith(("/vendor", "/data/sdk", "/engine"))], fetched
    finally:
        server.stop()


def test_a_walk_rebuilds_a_damaged_map_archive_and_keeps_deep_files(game_folder, launch, service, sample_repo):
    head = sample_repo["main"][-1]
    files = repository_files(sample_repo["path"], head)
    write_installation(game_folder.path, files)
    (game_folder.path / "data" / "maps" / "north.zip").write_bytes(b"PK\x03\x04 not an archive any more")
    launcher = launch(endpoint=service.url)
    assert run_update(launcher, "UpdateRequired") == FINISHED
    assert installation_differences(game_folder.path, files) == []
    # A repository file two folders deep outside data/ is listed, so the cleanup keeps it.
    assert (game_folder.path / "bin" / "sub" / "deep.dll").read_bytes() == files["bin/sub/deep.dll"]
    assert read_last(game_folder.path) == f"{head}\tmain"


def test_a_self_update_served_wrong_bytes_keeps_the_running_launcher(game_folder, launch, harness):
    newer = harness.launcher_exe.read_bytes() + b"\0" * 512
    old = harness.launcher_exe.read_bytes()
    releases = [{"data/a.txt": b"a1\n"}, {"data/a.txt": b"a2\n"}]
    repo, server = release_repository(harness, "bad-launcher", releases, launcher=newer)
    try:
        write_installation(game_folder.path, repository_files(repo["path"], repo["main"][0]))
        (game_folder.path / "Launcher.exe").write_bytes(old)
        game_folder.write_last(repo["main"][0], "main")
        before = snapshot(game_folder.path)
        server.behaviour["raw_fault"] = {"/Launcher.exe": "wrong_bytes"}
        launcher = launch(endpoint=server.url)
        text = run_update(launcher, "UpdateOptional")
        assert text.startswith("Ошибка загрузки файла /Launcher.exe: файл повреждён"), text
        assert snapshot(game_folder.path) == before
        # No restart: the launcher that failed is still the only one.
        assert not launcher.exited()
        launcher.click("BTN_Exit")
        assert launcher.wait_exit() == 0
        exe = game_folder.windows.lower() + "\\launcher.exe"
        assert not [p for p in harness.driver.processes() if p["path"].lower() == exe]
    finally:
        server.stop()


def test_a_launcher_restarted_for_a_blob_never_restarts_for_it_again(game_folder, launch, harness):
    """A cache that keeps serving the old launcher after a restart for the new one must not make the
    launcher restart itself for ever: the restarted process says so and stops."""
    import hashlib
    newer = harness.launcher_exe.read_bytes() + b"\0" * 512
    blob = hashlib.sha1(b"blob %d\0" % len(newer) + newer).hexdigest()
    releases = [{"data/a.txt": b"a1\n"}, {"data/a.txt": b"a2\n"}]
    repo, server = release_repository(harness, "restart-loop", releases, launcher=newer)
    try:
        write_installation(game_folder.path, repository_files(repo["path"], repo["main"][0]))
        (game_folder.path / "Launcher.exe").write_bytes(harness.launcher_exe.read_bytes())
        game_folder.write_last(repo["main"][0], "main")
        before = snapshot(game_folder.path)
        launcher = launch(endpoint=server.url, env={"VELDRA_LAUNCHER_RESTARTED_FOR": blob})
        text = run_update(launcher, "UpdateOptional")
        assert text.startswith("Не удалось обновить лаунчер"), text
        assert snapshot(game_folder.path) == before
        assert not [r for r in server.requests("/ORMUND42/") if r["path"].endswith("/Launcher.exe")]
        assert not launcher.exited()
    finally:
        server.stop()


def test_a_new_launcher_that_cannot_start_gives_way_to_the_previous_one(game_folder, launch, harness, launcher_log,
                                                                         screenshot):
    """The repository's launcher passes its blob check but is no program: starting it fails, the
    previous launcher is put back and the run ends as failed, with the window ready for another try."""
    unstartable = b"not a program, only its blob hash is right\r\n" * 64
    old = harness.launcher_exe.read_bytes()
    releases = [{"data/a.txt": b"a1\n"}, {"data/a.txt": b"a2\n"}]
    repo, server = release_repository(harness, "unstartable-launcher", releases, launcher=unstartable)
    try:
        write_installation(game_folder.path, repository_files(repo["path"], repo["main"][0]))
        (game_folder.path / "Launcher.exe").write_bytes(old)
        # A leftover of an earlier replacement: it goes, as at every replacement.
        (game_folder.path / "Launcher_old.exe").write_bytes(b"MZ launcher of long ago")
        game_folder.write_last(repo["main"][0], "main")
        before = snapshot(game_folder.path)
        del before["Launcher_old.exe"]
        launcher = launch(endpoint=server.url)
        for attempt in (1, 2):
            text = run_update(launcher, "UpdateOptional", screenshot, f"unstartable-launcher-{attempt}")
            assert text == UNSTARTABLE_LAUNCHER, text
            assert (game_folder.path / "Launcher.exe").read_bytes() == old
            assert snapshot(game_folder.path) == before
            # No restart: the window offers the update again, a second try meets the same refusal.
            launcher.wait_state("UpdateOptional")
            assert not launcher.exited()
        launcher_log.wait_for("New launcher did not start: code 193")
        exe = game_folder.windows.lower() + "\\launcher.exe"
        assert len([p for p in harness.driver.processes() if p["path"].lower() == exe]) == 1
    finally:
        server.stop()
