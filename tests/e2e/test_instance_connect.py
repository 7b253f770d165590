"""Server-join links: a second start hands them to the running launcher, which gives
them to the game, and a launcher started by a link keeps the text for the game."""
from e2e_support.launcher import box_text, game_window
from e2e_support.waiting import wait_for

COPYDATA_TAG = 0x526456
CANNOT_START = "Невозможно запустить игру, требуется обновление или установка!"


def installed(game_folder, sample_repo, channel="main", commit=None):
    game_folder.add_game()
    game_folder.write_last(commit or sample_repo[channel][-1], channel)


def test_links_start_the_game_then_reach_it_by_message(harness, game_folder, launch, service, sample_repo):
    installed(game_folder, sample_repo)
    launcher = launch(endpoint=service.url)
    launcher.wait_state("Ready")

    # Idle launcher: the game starts with "/connect " and the link's text, letter case kept.
    first = launch("/connect", "vdr://connect/Srv-1:7777", window=False)
    assert first.wait_exit() == 0
    start = wait_for(game_folder.game_starts, what="the game to start")[0]
    assert start["params"] == "/connect Srv-1:7777"
    game_window(harness.driver, game_folder)

    # Game running: the next link (its prefix in capitals) goes to the TfMain window
    # as WM_COPYDATA, the text only.
    text = "Сервер Б/2?x=1"
    second = launch("/connect", "VDR://CONNECT/" + text, window=False)
    assert second.wait_exit() == 0
    message = wait_for(game_folder.game_messages, what="the connect message")[0]
    assert message == {"event": "copydata", "tag": COPYDATA_TAG, "bytes": 2 * len(text),
                       "sender": launcher.hwnd, "text": text}
    assert len(game_folder.game_starts()) == 1


def test_a_link_of_another_scheme_only_activates(game_folder, launch, service, sample_repo):
    installed(game_folder, sample_repo)
    launcher = launch(endpoint=service.url)
    launcher.wait_state("Ready")
    for args in (["/connect", "http://connect/Wrong"], ["/connect"]):
        assert launch(*args, window=False).wait_exit() == 0
    # Requests are served in order: once this link has started the game, the two above were dropped.
    assert launch("/connect", "vdr://connect/Right", window=False).wait_exit() == 0
    starts = wait_for(game_folder.game_starts, what="the game to start")
    assert [s["params"] for s in starts] == ["/connect Right"]


def test_a_launcher_started_by_a_link_runs_the_game_with_its_text(game_folder, launch, service, sample_repo):
    installed(game_folder, sample_repo)
    launch("/connect", "vdr://connect/Abc", endpoint=service.url)
    start = wait_for(game_folder.game_starts, what="the game to start")[0]
    assert start["params"] == "Abc"


def test_a_link_that_needs_an_update_first_is_refused(game_folder, launch, service, sample_repo):
    # An older test-channel commit: the update is required and Run is disabled.
    installed(game_folder, sample_repo, channel="qa", commit=sample_repo["qa"][0])
    launcher = launch("/connect", "vdr://connect/Abc", endpoint=service.url)
    dialog = launcher.wait_dialog()
    assert box_text(dialog) == CANNOT_START
    launcher.answer(dialog, "OK")
    launcher.wait_state("UpdateRequired")
    assert game_folder.game_starts() == []
