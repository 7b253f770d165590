"""Switching the update channel with the two radio buttons."""
import pytest

from e2e_support.launcher import box_text

QUESTION = "Для перехода на другой канал обновлений придётся перекачать всю игру. Вы уверены?"


@pytest.mark.parametrize("answer", ["No", "Yes"])
def test_channel_switch_question(game_folder, launch, service, sample_repo, screenshot, answer):
    game_folder.add_game()
    game_folder.write_last(sample_repo["main"][-1], "main")
    last_before = (game_folder.path / ".last").read_bytes()
    launcher = launch(endpoint=service.url)
    launcher.wait_state("Ready")

    launcher.click("RB_Test")
    dialog = launcher.wait_dialog()
    assert box_text(dialog) == QUESTION
    assert sorted(b["id"] for b in dialog["buttons"]) == [6, 7]  # Yes and No
    launcher.answer(dialog, answer)

    if answer == "No":
        view = launcher.wait_view(lambda v: v.checked("RB_Release"), what="the release channel selected again")
        assert not view.checked("RB_Test")
        assert not view.state_mismatch("Ready")
    else:
        view = launcher.wait_state("UpdateRequired")
        assert view.checked("RB_Test") and not view.checked("RB_Release")
        screenshot(launcher.hwnd, "window-channel-switched")
    # The installed state changes only when an update run finishes.
    assert (game_folder.path / ".last").read_bytes() == last_before
