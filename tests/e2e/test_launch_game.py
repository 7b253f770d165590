"""Running the game from the launcher."""
from e2e_support.launcher import box_text, game_window, ready_launcher
from e2e_support.waiting import wait_for

GAME_MISSING = "Программа запуска не обнаружила игру! Переустановите игру для устранения проблемы."


def test_run_hides_the_launcher_until_the_game_ends(harness, game_folder, launch, service, sample_repo):
    launcher = ready_launcher(game_folder, launch, service, sample_repo)
    launcher.click("BTN_Run")

    start = wait_for(game_folder.game_starts, what="the game to start")[0]
    assert start["cmdline"] == f'"{game_folder.windows}\\VELDRA.exe" '
    assert start["params"] == ""
    game = game_window(harness.driver, game_folder)
    # While the game runs the launcher is in the notification area with every control disabled.
    view = launcher.wait_view(lambda v: not v.window["visible"], what="the launcher window hidden")
    assert not view.state_mismatch("Busy")

    # Closing is refused while the game runs, by any means.
    for message in ("altf4", "sysclose", "close"):
        harness.driver.post(launcher.hwnd, message)
    # A second start brings the window back from the tray; the controls stay disabled.
    second = launch(window=False)
    assert second.wait_exit() == 0
    view = launcher.wait_view(lambda v: v.window["visible"] and not v.window["iconic"], what="the window restored")
    assert not launcher.exited()
    assert not view.state_mismatch("Busy")

    harness.driver.post(game["hwnd"], "close")
    launcher.wait_state("Ready")
    assert launcher.top_window()["visible"]


def test_run_with_the_game_missing_offers_the_install(game_folder, launch, service, sample_repo):
    launcher = ready_launcher(game_folder, launch, service, sample_repo)
    (game_folder.path / "VELDRA.exe").unlink()
    launcher.click("BTN_Run")
    dialog = launcher.wait_dialog()
    assert box_text(dialog) == GAME_MISSING
    launcher.answer(dialog, "OK")
    # A fresh start-up check finds no game and asks for the installation.
    launcher.wait_state("UpdateRequired")
    assert game_folder.game_starts() == []
