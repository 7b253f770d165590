"""The window during an update run: busy controls, progress, tray and closing."""
from e2e_support.images import distinct_colours

STATUS_FILE_LIST = "Получение списка файлов, пожалуйста, подождите..."


def test_update_run_keeps_the_window_busy(harness, game_folder, launch, stall_service, sample_repo, screenshot):
    game_folder.add_game()
    game_folder.write_last(sample_repo["main"][0], "main")
    service = stall_service({"main": sample_repo["main"][-1]})
    launcher = launch(endpoint=service.url)
    view = launcher.wait_state("UpdateOptional")
    screenshot(launcher.hwnd, "window-update-optional")

    launcher.click("BTN_Update")
    # The run's first request is held open by the service: the window stays busy.
    view = launcher.wait_view(lambda v: v.shown("ProgressBar") and not v.state_mismatch("Busy"),
                              what="the busy window with its progress bar")
    assert view.text("L_Update") == STATUS_FILE_LIST and view.shown("L_Update")
    assert view["ProgressBar"]["progress"]["marquee"]
    assert launcher.try_click("BTN_Exit") == "control is disabled"
    width, height, rows = screenshot(launcher.hwnd, "window-busy")
    assert distinct_colours(rows) > 8, "the busy window looks blank"

    # Closing is refused; minimising sends the busy window to the notification area.
    for message in ("altf4", "sysclose", "close", "minimize"):
        harness.driver.post(launcher.hwnd, message)
    launcher.wait_view(lambda v: not v.window["visible"], what="the window hidden in the tray")
    # A second start brings it back in normal size, still busy.
    assert launch(window=False).wait_exit() == 0
    view = launcher.wait_view(lambda v: v.window["visible"] and not v.window["iconic"], what="the window restored")
    assert not launcher.exited()
    assert not view.state_mismatch("Busy")
    assert service.held(), "the update run sent no request"
