"""Starting the launcher: its window, the installation it finds and the channel it shows."""
import pytest

from e2e_support.launcher import UPDATE_NOTICE, box_text

NO_VERSION = "не найдена..."
GAME_VERSION = "1.2.3.4"  # the game stand-in's file version

# Placement of the controls inside their parent: left, top, width, height
# (None where only the position is fixed).
LAYOUT = [
    ("L_CurrentVersion", 16, 5, 251, 50),
    ("L_Version", 273, 5, 120, 50),
    ("ImgBTN_VK", 679, 7, 50, 50),
    ("ImgBTN_Discord", 740, 7, 50, 50),
    ("Panel1", 14, 368, 778, 224),
    ("L_Update", 0, 0, 769, 46),
    ("L_Text1", 0, 65, None, None),
    ("RB_Release", 0, 96, 545, 19),
    ("RB_Test", 0, 121, 545, 24),
    ("ProgressBar", 0, 168, 545, 35),
    ("BTN_Run", 569, 49, 200, 50),
    ("BTN_Update", 569, 105, 200, 50),
    ("BTN_Exit", 569, 161, 200, 50),
]
CAPTIONS = {
    "L_CurrentVersion": "Текущая версия игры:",
    "L_Text1": "Выбранный канал обновлений:",
    "RB_Release": "Релизный, с проверенными обновлениями (рекомендуется)",
    "RB_Test": "Тестовый, с непроверенными обновлениями",
    "BTN_Run": "Запустить",
    "BTN_Update": "Обновить",
    "BTN_Exit": "Выход",
}
WS_MAXIMIZEBOX, WS_MINIMIZEBOX, WS_THICKFRAME, WS_SYSMENU = 0x10000, 0x20000, 0x40000, 0x80000


def test_start_without_installation_offers_the_install(harness, launch, screenshot):
    launcher = launch()
    view = launcher.wait_state("UpdateRequired")
    assert view.window["visible"] and not view.window["iconic"]
    assert view.text("L_Version") == NO_VERSION
    assert view.text("L_Update") == UPDATE_NOTICE
    assert view.checked("RB_Release") and not view.checked("RB_Test")
    assert not view.shown("ProgressBar")
    # Without the game beside it the launcher adopts no folder.
    assert not harness.driver.registry(r"Software\VELDRA")["exists"]
    screenshot(launcher.hwnd, "window-update-offered")


def test_window_layout_and_captions(harness, launch, screenshot):
    launcher = launch()
    view = launcher.wait_state("UpdateRequired")
    window = view.window
    assert window["title"] == "VELDRA LAUNCHER"
    assert window["client"] == [800, 600]
    style = window["style"]
    assert style & WS_SYSMENU and style & WS_MINIMIZEBOX
    assert not style & WS_MAXIMIZEBOX and not style & WS_THICKFRAME
    left, top, width, height = window["rect"]
    screen_width, screen_height = harness.driver.screen_size()
    assert abs(left + width / 2 - screen_width / 2) <= 16 and abs(top + height / 2 - screen_height / 2) <= 40, \
        "window not centred on the screen"

    wrong = []
    for name, x, y, w, h in LAYOUT:
        actual = view[name]["rect"]
        expected = [x, y, w if w is not None else actual[2], h if h is not None else actual[3]]
        if actual != expected:
            wrong.append(f"{name}: {actual}, expected {expected}")
    assert not wrong, "misplaced controls: " + "; ".join(wrong)
    for name in ("L_Update", "L_Text1", "RB_Release", "RB_Test", "ProgressBar", "BTN_Run", "BTN_Update", "BTN_Exit"):
        assert view[name]["parent_id"] == launcher.harness.control_ids["Panel1"], f"{name} is not inside Panel1"
    assert {name: view.text(name) for name in CAPTIONS} == CAPTIONS

    width, height, rows = screenshot(launcher.hwnd, "window-idle")
    assert width >= 800 and height >= 600, (width, height)


@pytest.mark.parametrize("last, channel, checked", [
    pytest.param("{qa}\tqa", "qa", "RB_Test", id="test-channel"),
    pytest.param("{main}", "main", "RB_Release", id="no-tab-means-release"),
    pytest.param("{main}\tmain", "main", "RB_Release", id="release-channel"),
])
def test_start_with_installation_shows_version_and_channel(game_folder, launch, service, sample_repo,
                                                           last, channel, checked):
    game_folder.add_game()
    game_folder.path.joinpath(".last").write_bytes(
        last.format(qa=sample_repo["qa"][-1], main=sample_repo["main"][-1]).encode("utf-16-le"))
    launcher = launch(endpoint=service.url)
    # The installed commit is the channel's head: nothing to update, the game can be played.
    view = launcher.wait_state("Ready")
    assert view.text("L_Version") == GAME_VERSION
    other = "RB_Release" if checked == "RB_Test" else "RB_Test"
    assert view.checked(checked) and not view.checked(other)
    heads = [r["path"] for r in service.requests("/repos/") if "/commits/" in r["path"]]
    assert heads == [f"/repos/ORMUND42/veldra_public/commits/{channel}"]


@pytest.mark.parametrize("record", [
    pytest.param(lambda qa: f"{qa}\tqa\r\n", id="channel-with-line-end"),
    pytest.param(lambda qa: f"{qa[:20]}", id="commit-cut-off"),
    pytest.param(lambda qa: "not a commit\tqa", id="no-commit"),
])
def test_a_record_that_cannot_be_read_is_told_and_nothing_is_assumed(game_folder, launch, sample_repo, record):
    game_folder.add_game()
    (game_folder.path / ".last").write_bytes(record(sample_repo["qa"][-1]).encode("utf-16-le"))
    launcher = launch()
    box = launcher.wait_dialog()
    assert box_text(box) == ("Файл .last повреждён. Установленная версия и канал обновлений неизвестны: выберите "
                             "канал и нажмите «Обновить», игра будет проверена целиком.")
    launcher.answer(box, "OK")
    # Nothing installed is assumed: the whole game is checked against the channel shown.
    view = launcher.wait_state("UpdateRequired")
    assert view.checked("RB_Release") and not view.checked("RB_Test")


@pytest.mark.parametrize("how", ["altf4", "sysclose", "BTN_Exit"])
def test_the_idle_window_closes_and_ends_the_program(harness, launch, how):
    launcher = launch()
    launcher.wait_state("UpdateRequired")
    if how == "BTN_Exit":
        launcher.click("BTN_Exit")
    else:
        harness.driver.post(launcher.hwnd, how)
    assert launcher.wait_exit() == 0
